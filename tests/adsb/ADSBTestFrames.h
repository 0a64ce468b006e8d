#pragma once

#include <string>

#include "adsb/DecodedADSBMessage.h"
#include "sim/ADSBEncoder.h"

// Frames published with their decoded values (the "1090 MHz Riddle" examples, widely used as
// Mode S test vectors): identification KLM1023, an airborne position pair decoding to about
// 52.2572 N 3.9194 E at 38,000 ft, and a ground-speed velocity of 159.2 kt, 182.88 deg, -832 ft/min.
inline constexpr const char* kIdentificationKLM1023 = "8D4840D6202CC371C32CE0576098";
inline constexpr const char* kPositionEven = "8D40621D58C382D690C8AC2863A7";
inline constexpr const char* kPositionOdd = "8D40621D58C386435CC412692AD6";
inline constexpr const char* kVelocity = "8D485020994409940838175B284F";

inline ADSBFrameBytes frameFromHex(const std::string& hex) {
    ADSBFrameBytes bytes{};
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        bytes[n] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * n, 2), nullptr, 16));
    }
    return bytes;
}

inline std::array<std::uint8_t, 112> bitsOf(const ADSBFrameBytes& bytes) {
    std::array<std::uint8_t, 112> bits{};
    for (std::size_t k = 0; k < 112; ++k) bits[k] = (bytes[k / 8] >> (7 - k % 8)) & 1u;
    return bits;
}

// Same frame content, whenever and however strongly it was received.
inline bool sameFrame(const DecodedADSBMessage& a, const DecodedADSBMessage& b) {
    return a.icao == b.icao && a.downlinkFormat == b.downlinkFormat && a.typeCode == b.typeCode &&
           a.rawBits == b.rawBits;
}

inline DecodedADSBMessage messageOf(const ADSBFrameBytes& bytes) {
    const auto bits = bitsOf(bytes);
    char icao[8];
    std::snprintf(icao, sizeof icao, "%02X%02X%02X", bytes[1], bytes[2], bytes[3]);
    return {.icao = icao, .downlinkFormat = bytes[0] >> 3, .typeCode = bytes[4] >> 3, .rawBits = bits};
}
