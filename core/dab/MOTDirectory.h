#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dab/MOTHeaderCore.h"

// A MOT directory (EN 301 234 clause 7.2): a 13-byte directory header, a directory extension
// and one entry per object, each a transport identifier and that object's header.
struct MOTDirectory {
    static constexpr std::size_t kHeaderBytes = 13;
    static constexpr int kMaxObjects = 4096;

    struct Entry {
        std::uint16_t transportId = 0;
        MOTHeaderCore header;
        bool operator==(const Entry&) const = default;
    };
    std::vector<Entry> entries;

    // Directory bytes → directory, or nothing when the header is short, the object count is
    // outside 1…4096 or no entry parses.
    static std::optional<MOTDirectory> parse(std::span<const std::uint8_t> bytes);

    bool operator==(const MOTDirectory&) const = default;
};
