#pragma once

#include <array>
#include <cstdint>
#include <string>

// One Mode S extended squitter (DF17 or DF18) whose parity checked out.
struct DecodedADSBMessage {
    std::string icao;        // 24-bit address as six upper-case hex digits ("%06X")
    int downlinkFormat = 0;  // 17 or 18
    int typeCode = 0;        // first five bits of the ME field (message bits 32-36)
    std::array<std::uint8_t, 112> rawBits{};  // one bit (0 or 1) per element, first sent first
    // Stream time of the first preamble pulse, in samples at 2,048,000 samples/s since the
    // decoder started (fractions dropped). Feeds turn it into their own clocks.
    std::uint64_t sampleIndex = 0;
    float signalLevel = 0.0f;  // mean pulse magnitude, IQ full scale 1.0
    int correctedBits = 0;     // bits the parity repaired (0 or 1)
    bool operator==(const DecodedADSBMessage&) const = default;
};
