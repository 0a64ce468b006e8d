#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// Field decoders for the ME field of DF17/18 extended squitters (RTCA DO-260, bit 0 = first
// transmitted bit of the 112-bit message). Pure functions of the bits; any input is safe.
using ADSBMessageBits = std::array<std::uint8_t, 112>;

struct ADSBVelocity {
    double groundSpeedKnots = 0.0;
    double headingDeg = 0.0;             // track over ground, 0 <= h < 360
    std::optional<int> verticalRateFpm;  // absent when the message says "no information"
    bool operator==(const ADSBVelocity&) const = default;
};

struct ADSBLatLon {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;  // [-180, 180)
    bool operator==(const ADSBLatLon&) const = default;
};

// Message bits first..first+count-1 as an unsigned number, most significant first.
std::uint32_t adsbBits(const ADSBMessageBits& bits, int first, int count);

// TC 1-4: eight 6-bit characters (bits 40-87); codes without a character are skipped, the result
// is trimmed.
std::string decodeADSBCallsign(const ADSBMessageBits& bits);

// TC 9-18: the 12-bit altitude (bits 40-51) in 25 ft steps when its Q bit (47) is set; the
// 100 ft Gillham code (Q = 0) is not decoded.
std::optional<int> decodeADSBAltitudeFeet(const ADSBMessageBits& bits);

// TC 19 subtypes 1 and 2 (ground speed). Absent for other subtypes or when either component
// says "no information".
std::optional<ADSBVelocity> decodeADSBVelocity(const ADSBMessageBits& bits);

// Number of longitude zones at a latitude (DO-260 A.1.7.2, NZ = 15).
int adsbCPRZones(double latitudeDeg);

// Global airborne CPR decode of an even/odd pair (DO-260 A.1.7.7). Absent when the two lie in
// different latitude zones or the result is out of range.
std::optional<ADSBLatLon> decodeADSBGlobalCPR(const ADSBMessageBits& even,
                                              const ADSBMessageBits& odd, bool oddIsLatest);

// Locally unambiguous airborne CPR decode of one message against a reference position within
// half a latitude zone (about 180 NM) of the aircraft (DO-260B 2.2.3.2.7.2.6).
ADSBLatLon decodeADSBLocalCPR(const ADSBMessageBits& message, const ADSBLatLon& reference);

// Great-circle distance in nautical miles.
double adsbDistanceNM(const ADSBLatLon& a, const ADSBLatLon& b);
