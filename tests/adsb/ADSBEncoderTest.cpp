#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sim/ADSBEncoder.h"

// The simulator's encoder against published frames. It includes nothing of the receiver's
// decoder: the two are written independently, and ADSBPeerDecoderTest checks the rendered signal
// with a decoder from outside the project.
namespace {

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

}  // namespace

TEST(ADSBEncoderTest, ReproducesPublishedFramesOfEveryFormat) {
    // Frames published with their decoded values in "The 1090 MHz Riddle" (J. Sun) and the test
    // vectors of its companion library pyModeS; addresses of DF4 and DF20 from their AP fields.
    struct Case {
        ADSBFrameBytes built;
        const char* published;
    };
    const Case cases[] = {
        {ADSBEncoder::identification({.icao = 0x4840D6, .callsign = "KLM1023", .typeCode = 4}),
         "8D4840D6202CC371C32CE0576098"},
        // The even frame of the pair decoding to 52.2572 N 3.9194 E is a CPR grid point.
        {ADSBEncoder::airbornePosition({.icao = 0x40621D,
                                        .latitudeDeg = 52.2572021484375,
                                        .longitudeDeg = 3.91937255859375,
                                        .altitudeFeet = 38'000}),
         "8D40621D58C382D690C8AC2863A7"},
        {ADSBEncoder::allCallReply({.icao = 0x484FDE, .surveillanceId = 6}), "5D484FDEA248F5"},
        {ADSBEncoder::altitudeReply({.icao = 0x4CA7E8, .altitudeFeet = 36'000}), "2000171806A983"},
        // AC fields 0x1839 and 0x1393 are 38,025 and 30,275 ft; the MB fields are copied.
        {ADSBEncoder::commBAltitudeReply({.icao = 0x400940, .altitudeFeet = 38'025},
                                         0xCA380031580000),
         "A0001839CA3800315800007448D9"},
        {ADSBEncoder::commBAltitudeReply({.icao = 0x3C4DD2, .altitudeFeet = 30'275},
                                         0x81951536E024D4),
         "A000139381951536E024D4CCF6B5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.published);
        EXPECT_EQ(ADSBEncoder::hex(c.built, ADSBEncoder::bitCountOf(c.built)), c.published);
        EXPECT_EQ(c.built, frameFromHex(c.published)) << "bytes past the frame stay zero";
    }
}

TEST(ADSBEncoderTest, IdentityCodesAndCommBIdentificationMatchKnownValues) {
    // Published DF5 2A00516D492B80 carries squawk 0356 and sets the spare X bit (0x40), which
    // the encoder leaves clear; its address 510AF9 comes back from the parity.
    const ADSBFrameBytes df5 = frameFromHex("2A00516D492B80");
    EXPECT_EQ(ADSBEncoder::identityCode(00356), bitsAt(df5, 19, 13) & ~0x40u);
    EXPECT_EQ(ADSBEncoder::parity(df5, 56) ^ bitsAt(df5, 32, 24), 0x510AF9u);
    // Pulse order C1 A1 C2 A2 C4 A4 X B1 D1 B2 D2 B4 D4: 7700 sets every A and B pulse, 1200
    // only A1 and B2.
    EXPECT_EQ(ADSBEncoder::identityCode(07700), 0b0101010101010u);
    EXPECT_EQ(ADSBEncoder::identityCode(01200), 0b0100000001000u);
    // Out-of-range altitudes clamp to the ends of the 25 ft code rather than wrapping.
    EXPECT_EQ(ADSBEncoder::altitudeCode(-5'000), ADSBEncoder::altitudeCode(-1'000));
    EXPECT_EQ(ADSBEncoder::altitudeCode(60'000), ADSBEncoder::altitudeCode(50'175));
    // BDS 2,0 has the layout of the DF17 identification message with type 4, category 0.
    EXPECT_EQ(ADSBEncoder::identificationMB("KLM1023"), 0x202CC371C32CE0u);
}

TEST(ADSBEncoderTest, PulseResponseHasTheAnnexEdgesAndTheDongleFilter) {
    // Through a filter far wider than the pulse (200 MS/s) the 10-90 % times and the half-
    // amplitude width are the transponder's.
    const ADSBPulseResponse sharp({.riseUs = 0.1, .decayUs = 0.2, .widthUs = 0.5}, {}, 200e6, 0.0);
    const auto crossing = [&](double from, double to, double level) {
        for (double t = from; t < to; t += 0.0005) {
            if ((std::abs(sharp.at(t)) - level) * (std::abs(sharp.at(t + 0.0005)) - level) <= 0.0)
                return t;
        }
        return std::nan("");
    };
    EXPECT_NEAR(crossing(-0.2, 0.25, 0.9) - crossing(-0.2, 0.25, 0.1), 0.1, 0.01);
    EXPECT_NEAR(crossing(0.25, 0.9, 0.1) - crossing(0.25, 0.9, 0.9), 0.2, 0.01);
    EXPECT_NEAR(crossing(0.25, 0.9, 0.5) - crossing(-0.2, 0.25, 0.5), 0.5, 0.01);
    // At 2.048 MS/s, a long pulse's flat top against its carrier offset: flat to 0.7 MHz, half
    // at the 0.9 MHz cutoff, 60 dB down past 1.1 MHz, alike on both sides.
    struct Case {
        double offsetHz;
        double expected;
        double tolerance;
    };
    const Case cases[] = {{0.0, 1.0, 0.01},        {600'000.0, 1.0, 0.01},
                          {-600'000.0, 1.0, 0.01}, {901'000.0, 0.5, 0.01},
                          {-901'000.0, 0.5, 0.01}, {1'200'000.0, 0.0, 0.001}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsetHz);
        const ADSBPulseResponse r({.widthUs = 30.0}, {}, 2'048'000.0, c.offsetHz);
        EXPECT_NEAR(std::abs(r.at(15.0)), c.expected, c.tolerance);
    }
}

TEST(ADSBEncoderTest, RenderingPutsPulsesOnTheirChipsAtAnyCarrierOffset) {
    // At 4 MS/s, first edge one sample before sample 10: sample 10 + 2c is the centre of the
    // half-microsecond chip c. On-chips read high (an isolated pulse peaks at 1.14, the filter's
    // overshoot), off-chips low, and the 2.4 µs filter tail has died 3 µs after the last chip.
    const ADSBFrameBytes frames[] = {
        ADSBEncoder::identification({.icao = 0x4840D6, .callsign = "KLM1023"}),
        ADSBEncoder::allCallReply({.icao = 0x484FDE})};
    for (const ADSBFrameBytes& frame : frames) {
        const int bits = ADSBEncoder::bitCountOf(frame);
        for (double offsetHz : {0.0, 300'000.0, -300'000.0}) {
            SCOPED_TRACE(testing::Message() << bits << " bits at " << offsetHz << " Hz");
            std::vector<IQSample> iq(600);
            ADSBEncoder::render(iq, 9.0, frame,
                                {.amplitude = 0.4f,
                                 .carrierPhaseRad = 1.0,
                                 .carrierOffsetHz = offsetHz,
                                 .sampleRateHz = 4e6,
                                 .bitCount = bits},
                                ADSBPulseResponse({}, {}, 4e6, offsetHz));
            const auto level = [&](std::size_t n) { return std::hypot(iq[n].i, iq[n].q) / 0.4; };
            const int chips = 16 + 2 * bits;
            for (int c = 0; c < chips; ++c) {
                const bool on =
                    c < 16 ? (c == 0 || c == 2 || c == 7 || c == 9)
                           : bitsAt(frame, (c - 16) / 2, 1) == ((c - 16) % 2 == 0 ? 1u : 0u);
                const double m = level(static_cast<std::size_t>(10 + 2 * c));
                ASSERT_TRUE(on ? m > 0.9 : m < 0.25) << "chip " << c << " reads " << m;
            }
            for (auto n = static_cast<std::size_t>(10 + 2 * chips + 12); n < iq.size(); ++n)
                ASSERT_LT(level(n), 1e-3);
            EXPECT_LT(level(0), 1e-3);
        }
    }
}
