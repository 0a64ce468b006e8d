#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "device/IQSample.h"

// Builds Mode S extended squitters (DF17) from known values, DO-260 field by field, and renders
// them as pulse-position-modulated complex baseband. Written independently of the receiver's
// decoder so that each checks the other; the CRC and the CPR encoding are cross-checked against
// published frames in the tests.
using ADSBFrameBytes = std::array<std::uint8_t, 14>;

struct ADSBCPRCode {
    std::uint32_t latitudeCPR = 0;   // 17 bits
    std::uint32_t longitudeCPR = 0;  // 17 bits
    bool operator==(const ADSBCPRCode&) const = default;
};

struct ADSBIdentificationFields {
    std::uint32_t icao = 0;
    std::string_view callsign;  // up to 8 characters of A-Z, 0-9 and space
    int typeCode = 4;           // 1-4: aircraft category set D, C, B, A
    int category = 0;
};

struct ADSBPositionFields {
    std::uint32_t icao = 0;
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    int altitudeFeet = 0;       // coded in 25 ft steps (Q bit 1), -1000 ... 50175 ft
    bool isOdd = false;         // CPR format F
    int typeCode = 11;          // 9-18: barometric altitude, by navigation accuracy
};

struct ADSBVelocityFields {
    std::uint32_t icao = 0;
    double groundSpeedKnots = 0.0;
    double trackDeg = 0.0;      // clockwise from true north
    int verticalRateFpm = 0;    // positive up, 64 ft/min steps
};

struct ADSBPulseShape {
    float amplitude = 0.3f;           // pulse envelope, IQ full scale 1.0
    double carrierPhaseRad = 0.0;
    double carrierOffsetHz = 0.0;     // from the receiver's centre
    double sampleRateHz = 2'048'000.0;
};

// Step response of transmitter and receive chain, tabulated every nanosecond. A pulse from a
// to b then has the envelope step(t - a) - step(t - b).
class ADSBPulseShaper {
public:
    // Blackman-windowed sinc low-pass with the given cutoff.
    explicit ADSBPulseShaper(double cutoffHz = 1'000'000.0, double halfLengthUs = 4.0);
    // Gaussian edges (erf step) with the given standard deviation.
    static ADSBPulseShaper gaussian(double sigmaUs);
    double step(double tUs) const;
    double reachUs() const { return halfLengthUs; }

private:
    ADSBPulseShaper(double halfLength, std::vector<double> steps)
        : halfLengthUs(halfLength), table(std::move(steps)) {}
    double halfLengthUs;
    std::vector<double> table;  // step at -halfLengthUs + n ns
};

class ADSBEncoder {
public:
    static constexpr double kFrameUs = 120.0;  // 8 µs preamble + 112 one-µs bits

    static ADSBFrameBytes identification(const ADSBIdentificationFields& fields);
    static ADSBFrameBytes airbornePosition(const ADSBPositionFields& fields);
    static ADSBFrameBytes airborneVelocity(const ADSBVelocityFields& fields);

    // Remainder of the first 88 bits times x^24 modulo the Mode S generator (ICAO Annex 10,
    // Vol IV, 3.1.2.3.3), by long division.
    static std::uint32_t parity(const ADSBFrameBytes& frame);
    static void setParity(ADSBFrameBytes& frame);

    // DO-260 A.1.7.7 airborne CPR, 17 bits.
    static ADSBCPRCode encodeCPR(double latitudeDeg, double longitudeDeg, bool isOdd);
    // Longitude zones at a latitude, from the transition latitudes of DO-260 A.1.7.2.
    static int longitudeZones(double latitudeDeg);

    // Adds the frame's pulse envelope to out; the preamble's first pulse begins startSample
    // samples after out[0] (fractional, may be negative or beyond the span).
    static void render(std::span<IQSample> out, double startSample, const ADSBFrameBytes& frame,
                       const ADSBPulseShape& shape, const ADSBPulseShaper& shaper);
};
