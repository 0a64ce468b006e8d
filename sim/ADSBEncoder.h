#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device/IQSample.h"
#include "sim/ADSBPulseResponse.h"
#include "sim/ADSBPulseShaper.h"

// Builds Mode S downlink frames from known values, field by field: extended squitters (DF17,
// DO-260), all-call replies (DF11) and surveillance replies (DF4, DF5, DF20, DF21; ICAO Annex 10
// Vol IV 3.1.2.6 and 3.1.2.8), and renders them as pulse-position-modulated complex baseband.
// Written independently of the receiver's decoder so that each checks the other; CRC, address
// overlay and field codes are checked against published frames and an independent decoder in
// the tests. A 56-bit frame uses the first 7 bytes; the rest stay zero.
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
    int altitudeFeet = 0;  // coded in 25 ft steps (Q bit 1), -1000 ... 50175 ft
    bool isOdd = false;    // CPR format F
    int typeCode = 11;     // 9-18: barometric altitude, by navigation accuracy
};

struct ADSBVelocityFields {
    std::uint32_t icao = 0;
    double groundSpeedKnots = 0.0;
    double trackDeg = 0.0;    // clockwise from true north
    int verticalRateFpm = 0;  // positive up, 64 ft/min steps
};

// Fields of the replies to interrogations. The address is overlaid on the parity (AP), except in
// DF11 where the interrogator's code is (PI).
struct ADSBReplyFields {
    std::uint32_t icao = 0;
    int altitudeFeet = 0;     // DF4, DF20: 25 ft steps (Q bit 1), -1000 ... 50175 ft
    int squawk = 0;           // DF5, DF21: Mode A code as four octal digits, e.g. 07000
    int flightStatus = 0;     // FS: 0 airborne, no alert, no SPI
    int downlinkRequest = 0;  // DR
    int utilityMessage = 0;   // UM
    int capability = 5;       // DF11 CA: level 2 or above, airborne
    // DF11 answers the interrogator that asked: its II code (0 for acquisition squitters), or a
    // surveillance identifier SI 1-60 instead when non-zero (Annex 10 3.1.2.3.3.2).
    int interrogatorId = 0;
    int surveillanceId = 0;
};

struct ADSBPulseShape {
    float amplitude = 0.3f;  // pulse envelope, IQ full scale 1.0
    double carrierPhaseRad = 0.0;
    double carrierOffsetHz = 0.0;  // from the receiver's centre
    double sampleRateHz = 2'048'000.0;
    int bitCount = 112;  // 56 for the short formats
};

class ADSBEncoder {
public:
    static constexpr double kFrameUs = 120.0;  // 8 µs preamble + 112 one-µs bits
    static constexpr double kShortFrameUs = 64.0;

    static ADSBFrameBytes identification(const ADSBIdentificationFields& fields);
    static ADSBFrameBytes airbornePosition(const ADSBPositionFields& fields);
    static ADSBFrameBytes airborneVelocity(const ADSBVelocityFields& fields);

    static ADSBFrameBytes allCallReply(const ADSBReplyFields& fields);   // DF11, 56 bits
    static ADSBFrameBytes altitudeReply(const ADSBReplyFields& fields);  // DF4, 56 bits
    static ADSBFrameBytes identityReply(const ADSBReplyFields& fields);  // DF5, 56 bits
    // Comm-B replies carry a 56-bit message (MB) that a ground station asked for.
    static ADSBFrameBytes commBAltitudeReply(const ADSBReplyFields& fields,
                                             std::uint64_t mb);  // DF20
    static ADSBFrameBytes commBIdentityReply(const ADSBReplyFields& fields,
                                             std::uint64_t mb);  // DF21
    // Comm-B registers (ICAO Doc 9871): BDS 2,0 aircraft identification and BDS 4,0 selected
    // vertical intention (MCP altitude, barometric setting).
    static std::uint64_t identificationMB(std::string_view callsign);
    static std::uint64_t verticalIntentionMB(int selectedAltitudeFeet, double baroSettingMb);

    // 13-bit AC field (Annex 10 3.1.2.6.5.4) with M = 0 and Q = 1, and 13-bit ID field
    // (3.1.2.6.7.1, the Mode A pulse order C1 A1 C2 A2 C4 A4 X B1 D1 B2 D2 B4 D4).
    static std::uint32_t altitudeCode(int altitudeFeet);
    static std::uint32_t identityCode(int squawk);

    // Remainder of the first bitCount - 24 bits times x^24 modulo the Mode S generator (ICAO
    // Annex 10, Vol IV, 3.1.2.3.3), by long division. setParity writes it unchanged (DF17, DF11
    // with interrogator 0); the reply encoders overlay it with the address or interrogator.
    static std::uint32_t parity(const ADSBFrameBytes& frame, int bitCount = 112);
    static void setParity(ADSBFrameBytes& frame, int bitCount = 112);
    // Bits of the downlink format field: 56 for DF0-15, 112 from DF16.
    static int bitCountOf(const ADSBFrameBytes& frame) { return (frame[0] >> 3) >= 16 ? 112 : 56; }
    // Upper-case hex of the first bitCount / 8 bytes, as decoders print frames.
    static std::string hex(const ADSBFrameBytes& frame, int bitCount = 112);

    // DO-260 A.1.7.7 airborne CPR, 17 bits.
    static ADSBCPRCode encodeCPR(double latitudeDeg, double longitudeDeg, bool isOdd);
    // Longitude zones at a latitude, from the transition latitudes of DO-260 A.1.7.2.
    static int longitudeZones(double latitudeDeg);

    // Adds the frame's pulse envelope to out; the preamble's first pulse begins startSample
    // samples after out[0] (fractional, may be negative or beyond the span).
    static void render(std::span<IQSample> out, double startSample, const ADSBFrameBytes& frame,
                       const ADSBPulseShape& shape, const ADSBPulseShaper& shaper);
    // The same through a transponder's pulse as the dongle delivers it: each pulse adds the
    // response, all turned by the carrier exp(j(phase + 2π·offset·t)), t from the first pulse.
    // The response should be tabulated for (about) shape.carrierOffsetHz.
    static void render(std::span<IQSample> out, double startSample, const ADSBFrameBytes& frame,
                       const ADSBPulseShape& shape, const ADSBPulseResponse& response);
};
