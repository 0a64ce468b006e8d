#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

// The receiver's modes as rig control names them, each with the one passband it has here.
enum class RigctlMode { wfm, fm, am };

struct RigctlModeInfo {
    RigctlMode mode;
    std::string_view name;
    std::int32_t passbandHz;
};

inline constexpr RigctlModeInfo kRigctlModes[] = {
    {.mode = RigctlMode::wfm, .name = "WFM", .passbandHz = 200'000},
    {.mode = RigctlMode::fm, .name = "FM", .passbandHz = 12'500},
    {.mode = RigctlMode::am, .name = "AM", .passbandHz = 10'000},
};

constexpr const RigctlModeInfo& rigctlModeInfo(RigctlMode mode) {
    for (const RigctlModeInfo& info : kRigctlModes)
        if (info.mode == mode) return info;
    return kRigctlModes[0];
}

constexpr std::optional<RigctlMode> rigctlModeFromName(std::string_view name) {
    for (const RigctlModeInfo& info : kRigctlModes)
        if (info.name == name) return info.mode;
    return std::nullopt;
}

// What the rig control server asks of the receiver. Every call comes from the server's thread
// and may block briefly; an empty answer (or false) means the receiver did not answer in time.
// The owner decides how the calls reach the receiver (RigControlAdapter posts them to the main
// thread); tests pass plain lambdas over a fake.
struct RigctlReceiver {
    std::function<std::optional<std::int64_t>()> getFrequencyHz;
    std::function<bool(std::int64_t hz)> setFrequencyHz;
    std::function<std::optional<RigctlMode>()> getMode;
    std::function<bool(RigctlMode mode)> setMode;
    // Signal strength in dB relative to S9, as hamlib's STRENGTH level counts it.
    std::function<std::optional<int>()> getStrengthDB;
};
