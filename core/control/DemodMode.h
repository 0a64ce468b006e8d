#pragma once

#include <array>
#include <optional>
#include <string_view>

// The analog demodulation mode. Narrow-band FM is the separate flag isNarrowbandFM.
enum class DemodMode { fm, am };

inline constexpr std::array<DemodMode, 2> kAllDemodModes = {DemodMode::fm, DemodMode::am};

constexpr std::string_view rawValue(DemodMode mode) {
    return mode == DemodMode::fm ? "FM" : "AM";
}

constexpr std::optional<DemodMode> demodModeFromRawValue(std::string_view text) {
    for (DemodMode m : kAllDemodModes)
        if (rawValue(m) == text) return m;
    return std::nullopt;
}
