#include "sim/ADSBEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "sim/SimRandom.h"

// The simulator's encoder checked against published frames. It deliberately includes nothing of
// the receiver's decoder: the two are written independently, and ADSBPeerDecoderTest checks the
// rendered signal against a decoder from outside the project.
namespace {

// Frames published with their decoded values ("The 1090 MHz Riddle", J. Sun, and the test
// vectors of the pyModeS library that accompanies it).
constexpr const char* kIdentificationKLM1023 = "8D4840D6202CC371C32CE0576098";  // KLM1023
constexpr const char* kPositionEven = "8D40621D58C382D690C8AC2863A7";  // 52.2572 N 3.9194 E, 38,000 ft
constexpr const char* kVelocity = "8D485020994409940838175B284F";
constexpr const char* kAllCall = "5D484FDEA248F5";              // 484FDE, answering SI 6
constexpr const char* kAltitudeReply = "2000171806A983";        // 4CA7E8, 36,000 ft
constexpr const char* kIdentityReply = "2A00516D492B80";        // 510AF9, squawk 0356
constexpr const char* kCommBAltitude1 = "A0001839CA3800315800007448D9";  // 400940
constexpr const char* kCommBAltitude2 = "A000139381951536E024D4CCF6B5";  // 3C4DD2

ADSBFrameBytes frameFromHex(const std::string& hex) {
    ADSBFrameBytes bytes{};
    for (std::size_t n = 0; 2 * n < hex.size(); ++n) {
        bytes[n] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * n, 2), nullptr, 16));
    }
    return bytes;
}

std::uint32_t bitsAt(const ADSBFrameBytes& frame, int first, int count) {
    std::uint32_t v = 0;
    for (int k = first; k < first + count; ++k) {
        v = (v << 1) | ((frame[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1u);
    }
    return v;
}

double magnitude(const IQSample& s) { return std::hypot(s.i, s.q); }

}  // namespace

TEST(ADSBEncoderTest, ReproducesPublishedFramesOfEveryFormat) {
    struct Case {
        const char* name;
        ADSBFrameBytes built;
        const char* published;
    };
    const Case cases[] = {
        {"DF17 identification",
         ADSBEncoder::identification({.icao = 0x4840D6, .callsign = "KLM1023", .typeCode = 4}),
         kIdentificationKLM1023},
        // The even frame encodes the decoded position exactly (it is a CPR grid point).
        {"DF17 position",
         ADSBEncoder::airbornePosition({.icao = 0x40621D, .latitudeDeg = 52.2572021484375,
                                        .longitudeDeg = 3.91937255859375, .altitudeFeet = 38'000}),
         kPositionEven},
        {"DF11 with SI code", ADSBEncoder::allCallReply({.icao = 0x484FDE, .surveillanceId = 6}),
         kAllCall},
        {"DF4", ADSBEncoder::altitudeReply({.icao = 0x4CA7E8, .altitudeFeet = 36'000}), kAltitudeReply},
        // AC fields 0x1839 and 0x1393 decode to 38,025 and 30,275 ft; the MB fields are copied.
        {"DF20 a", ADSBEncoder::commBAltitudeReply({.icao = 0x400940, .altitudeFeet = 38'025},
                                                   0xCA380031580000), kCommBAltitude1},
        {"DF20 b", ADSBEncoder::commBAltitudeReply({.icao = 0x3C4DD2, .altitudeFeet = 30'275},
                                                   0x81951536E024D4), kCommBAltitude2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ADSBFrameBytes published = frameFromHex(c.published);
        EXPECT_EQ(ADSBEncoder::hex(c.built, ADSBEncoder::bitCountOf(c.built)), c.published);
        EXPECT_EQ(c.built, published) << "bytes past the frame must stay zero";
    }
}

TEST(ADSBEncoderTest, FieldCodesMatchPublishedAndHandCodedValues) {
    // The published DF5 sets the spare X bit (0x40), which the encoder leaves clear.
    EXPECT_EQ(ADSBEncoder::identityCode(00356), bitsAt(frameFromHex(kIdentityReply), 19, 13) & ~0x40u);
    EXPECT_EQ(ADSBEncoder::altitudeCode(36'000), bitsAt(frameFromHex(kAltitudeReply), 19, 13));
    // 7700: A and B all ones, C and D zero, in the order C1 A1 C2 A2 C4 A4 X B1 D1 B2 D2 B4 D4.
    EXPECT_EQ(ADSBEncoder::identityCode(07700), 0b0101010101010u);
    // 1200: only A1 (position 1) and B2 (position 9).
    EXPECT_EQ(ADSBEncoder::identityCode(01200), 0b0100000001000u);
    // Altitudes outside the 25 ft code clamp to its ends rather than wrapping.
    EXPECT_EQ(ADSBEncoder::altitudeCode(-5'000), ADSBEncoder::altitudeCode(-1'000));
    EXPECT_EQ(ADSBEncoder::altitudeCode(60'000), ADSBEncoder::altitudeCode(50'175));
}

TEST(ADSBEncoderTest, CommBRegistersCarryTheirFields) {
    // BDS 2,0 has the same layout as the DF17 identification message with type 4, category 0.
    const ADSBFrameBytes published = frameFromHex(kIdentificationKLM1023);
    std::uint64_t me = 0;
    for (std::size_t n = 4; n < 11; ++n) me = (me << 8) | published[n];
    EXPECT_EQ(ADSBEncoder::identificationMB("KLM1023"), me);
    // BDS 4,0, Doc 9871 Table A-2-64: MCP altitude 36,000 ft = 2250 × 16 ft in bits 2-13 after
    // status bit 1; no FMS altitude; status bit 27 and (1013.2 - 800) / 0.1 = 2132 in bits 28-39.
    const std::uint64_t mb = ADSBEncoder::verticalIntentionMB(36'000, 1013.2);
    EXPECT_EQ(mb >> 55, 1u);
    EXPECT_EQ((mb >> 43) & 0xFFF, 2250u);
    EXPECT_EQ((mb >> 30) & 0x1FFF, 0u);
    EXPECT_EQ((mb >> 29) & 1, 1u);
    EXPECT_EQ((mb >> 17) & 0xFFF, 2132u);
    EXPECT_EQ(mb & 0x1FFFF, 0u);
}

TEST(ADSBEncoderTest, ParityAndAddressOverlayAtBothLengths) {
    for (const char* hex : {kIdentificationKLM1023, kPositionEven, kVelocity}) {
        SCOPED_TRACE(hex);
        const ADSBFrameBytes frame = frameFromHex(hex);
        EXPECT_EQ(ADSBEncoder::parity(frame), bitsAt(frame, 88, 24));
    }
    // Address/parity: parity XOR the AP field gives the sender's address.
    struct Overlay {
        const char* hex;
        std::uint32_t icao;
    };
    for (const Overlay& o : {Overlay{kAltitudeReply, 0x4CA7E8}, Overlay{kIdentityReply, 0x510AF9},
                             Overlay{kCommBAltitude1, 0x400940}, Overlay{kCommBAltitude2, 0x3C4DD2}}) {
        SCOPED_TRACE(o.hex);
        const ADSBFrameBytes frame = frameFromHex(o.hex);
        const int bits = ADSBEncoder::bitCountOf(frame);
        EXPECT_EQ(ADSBEncoder::parity(frame, bits) ^ bitsAt(frame, bits - 24, 24), o.icao);
    }
    // The Mode S code detects every single-bit error at either length.
    SimRandom rng(5);
    for (int bits : {56, 112}) {
        for (int round = 0; round < 50; ++round) {
            ADSBFrameBytes frame{};
            for (int k = 0; k < bits / 8 - 3; ++k) frame[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(rng.nextU32());
            ADSBEncoder::setParity(frame, bits);
            ASSERT_EQ(ADSBEncoder::parity(frame, bits), bitsAt(frame, bits - 24, 24));
            for (int k = 0; k < bits; ++k) {
                ADSBFrameBytes hit = frame;
                hit[static_cast<std::size_t>(k / 8)] ^= static_cast<std::uint8_t>(0x80u >> (k % 8));
                ASSERT_NE(ADSBEncoder::parity(hit, bits), bitsAt(hit, bits - 24, 24)) << bits << " " << k;
            }
        }
    }
}

TEST(ADSBEncoderTest, PulseResponseHasTheAnnexEdgesAndTheDongleFilter) {
    // Edges: seen through a filter far wider than the pulse (200 MS/s), the 10-90 % times and
    // the half-amplitude width are the transponder's.
    const ADSBPulseResponse sharp({.riseUs = 0.1, .decayUs = 0.2, .widthUs = 0.5}, {}, 200e6, 0.0);
    const auto crossing = [&](double from, double to, double level) {
        for (double t = from; t < to; t += 0.0005) {
            if ((std::abs(sharp.at(t)) - level) * (std::abs(sharp.at(t + 0.0005)) - level) <= 0.0) return t;
        }
        return std::nan("");
    };
    EXPECT_NEAR(crossing(-0.2, 0.25, 0.9) - crossing(-0.2, 0.25, 0.1), 0.1, 0.01);
    EXPECT_NEAR(crossing(0.25, 0.9, 0.1) - crossing(0.25, 0.9, 0.9), 0.2, 0.01);
    EXPECT_NEAR(crossing(0.25, 0.9, 0.5) - crossing(-0.2, 0.25, 0.5), 0.5, 0.01);

    // Filter at 2.048 MS/s: a long pulse's flat top at carrier offsets across the band. Flat to
    // 0.7 MHz, half at the 0.9 MHz cutoff, at least 60 dB down past 1.1 MHz, alike on both sides.
    struct Case {
        double offsetHz;
        double expected;
        double tolerance;
    };
    const Case cases[] = {{0.0, 1.0, 0.01}, {600'000.0, 1.0, 0.01}, {-600'000.0, 1.0, 0.01},
                          {901'000.0, 0.5, 0.01}, {-901'000.0, 0.5, 0.01},
                          {1'200'000.0, 0.0, 0.001}, {-1'200'000.0, 0.0, 0.001}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsetHz);
        const ADSBPulseResponse r({.widthUs = 30.0}, {}, 2'048'000.0, c.offsetHz);
        EXPECT_NEAR(std::abs(r.at(15.0)), c.expected, c.tolerance);
    }
}

TEST(ADSBEncoderTest, HardwareRenderingPutsPulsesOnTheirChips) {
    // At 4 MS/s with the first pulse's edge one sample before sample 10, sample 10 + 2c sits on
    // the centre of half-microsecond chip c: on-chips read high (an isolated pulse peaks at
    // 1.14, the filter's overshoot), off-chips low, and nothing is left some samples after the
    // last chip. Carrier offsets must not change that. (At 2 MS/s the filter passes too little
    // of a 1 MHz chip pattern for a clean margin; the peer decoder test covers that rate.)
    const ADSBFrameBytes frames[] = {
        ADSBEncoder::identification({.icao = 0x4840D6, .callsign = "KLM1023"}),
        ADSBEncoder::allCallReply({.icao = 0x484FDE}),
    };
    for (const ADSBFrameBytes& frame : frames) {
        const int bits = ADSBEncoder::bitCountOf(frame);
        for (double offsetHz : {0.0, 300'000.0, -300'000.0}) {
            SCOPED_TRACE(testing::Message() << bits << " bits at " << offsetHz << " Hz");
            const ADSBPulseResponse response({}, {}, 4'000'000.0, offsetHz);
            std::vector<IQSample> iq(600);
            ADSBEncoder::render(iq, 9.0, frame,
                                {.amplitude = 0.4f, .carrierPhaseRad = 1.0, .carrierOffsetHz = offsetHz,
                                 .sampleRateHz = 4'000'000.0, .bitCount = bits},
                                response);
            const auto isOn = [&](int chip) {
                if (chip < 16) return chip == 0 || chip == 2 || chip == 7 || chip == 9;
                const bool one = bitsAt(frame, (chip - 16) / 2, 1) == 1;
                return one == ((chip - 16) % 2 == 0);
            };
            const int chips = 16 + 2 * bits;
            for (int c = 0; c < chips; ++c) {
                const double m = magnitude(iq[static_cast<std::size_t>(10 + 2 * c)]) / 0.4;
                if (isOn(c)) {
                    ASSERT_GT(m, 0.9) << "chip " << c;
                } else {
                    ASSERT_LT(m, 0.25) << "chip " << c;
                }
            }
            // The filter's half length is 2.4 µs at this rate.
            for (auto n = static_cast<std::size_t>(10 + 2 * chips + 12); n < iq.size(); ++n) {
                ASSERT_LT(magnitude(iq[n]), 1e-3) << n;
            }
            for (std::size_t n = 0; n < 2; ++n) ASSERT_LT(magnitude(iq[n]), 1e-3) << n;
        }
    }
}

TEST(ADSBEncoderTest, CarrierOffsetTurnsThePhaseInItsDirection) {
    // At 4 MS/s from sample 100, preamble pulses 1 and 3 peak at samples 101 and 115 (0.25 and
    // 3.75 µs), where the filtered pulse is real; between them the carrier turns 2π·f·3.5 µs.
    const ADSBFrameBytes frame = ADSBEncoder::allCallReply({.icao = 0x123456});
    for (double offsetHz : {250'000.0, -250'000.0, 40'000.0}) {
        SCOPED_TRACE(offsetHz);
        const ADSBPulseResponse response({}, {}, 4'000'000.0, offsetHz);
        std::vector<IQSample> iq(400);
        ADSBEncoder::render(iq, 100.0, frame,
                            {.amplitude = 0.5f, .carrierPhaseRad = 0.3, .carrierOffsetHz = offsetHz,
                             .sampleRateHz = 4'000'000.0, .bitCount = 56},
                            response);
        const std::complex<double> a(iq[101].i, iq[101].q), b(iq[115].i, iq[115].q);
        const double expected = std::remainder(2.0 * std::numbers::pi * offsetHz * 3.5e-6, 2.0 * std::numbers::pi);
        EXPECT_NEAR(std::arg(b / a), expected, 0.02);
        EXPECT_NEAR(std::arg(a), std::remainder(0.3 + 2.0 * std::numbers::pi * offsetHz * 0.25e-6, 2.0 * std::numbers::pi), 0.02);
    }
}
