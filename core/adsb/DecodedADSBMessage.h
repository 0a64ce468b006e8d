#pragma once

#include <array>
#include <cstdint>
#include <string>

// One Mode S extended squitter (DF17 or DF18) whose parity checked out.
struct DecodedADSBMessage {
    std::string icao;          // 24-bit address as six upper-case hex digits ("%06X")
    int downlinkFormat = 0;    // 17 or 18
    int typeCode = 0;          // first five bits of the ME field (message bits 32-36)
    std::array<std::uint8_t, 112> rawBits{};  // one bit (0 or 1) per element, first sent first
    bool operator==(const DecodedADSBMessage&) const = default;
};
