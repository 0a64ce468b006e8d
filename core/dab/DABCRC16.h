#pragma once

#include <cstdint>
#include <span>

// CRC-16 CCITT (0x1021, preset 0xFFFF, complemented trailer) as DAB uses it for FIBs, packets
// and data groups.
struct DABCRC16 {
    static std::uint16_t compute(std::span<const std::uint8_t> data);
    // True when the last two bytes are the complemented CRC of the rest.
    static bool verifyIncludingTrailer(std::span<const std::uint8_t> data);
};
