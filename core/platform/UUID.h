#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A random (version 4) UUID. Text form is the canonical upper-case 8-4-4-4-12 hex digits,
// which is how the bookmark file stores it.
struct UUID {
    std::array<std::uint8_t, 16> bytes{};

    static UUID random();
    // Accepts upper- or lower-case canonical text; absent for anything else.
    static std::optional<UUID> parse(std::string_view text);
    std::string text() const;

    bool operator==(const UUID&) const = default;
    auto operator<=>(const UUID&) const = default;
};
