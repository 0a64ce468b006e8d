#include "sim/ADSBEncoder.h"

#include <gtest/gtest.h>

#include "ADSBTestFrames.h"
#include "adsb/ADSBDecoder.h"
#include "adsb/ADSBFields.h"
#include "sim/SimRandom.h"

// The simulator's encoder against the published frames: same bits, same parity.
TEST(ADSBEncoderTest, ReproducesPublishedFrames) {
    EXPECT_EQ(ADSBEncoder::identification({.icao = 0x4840D6, .callsign = "KLM1023", .typeCode = 4}),
              frameFromHex(kIdentificationKLM1023));
    // The even frame encodes the decoded position exactly (it is a CPR grid point).
    EXPECT_EQ(ADSBEncoder::airbornePosition({.icao = 0x40621D, .latitudeDeg = 52.2572021484375,
                                             .longitudeDeg = 3.91937255859375,
                                             .altitudeFeet = 38'000, .isOdd = false}),
              frameFromHex(kPositionEven));
}

TEST(ADSBEncoderTest, ParityAgreesWithPublishedFramesAndDecoder) {
    for (const char* hex : {kIdentificationKLM1023, kPositionEven, kPositionOdd, kVelocity}) {
        SCOPED_TRACE(hex);
        const ADSBFrameBytes frame = frameFromHex(hex);
        EXPECT_EQ(ADSBEncoder::parity(frame),
                  static_cast<std::uint32_t>((frame[11] << 16) | (frame[12] << 8) | frame[13]));
    }
    // Random payloads: the encoder's long division and the decoder's register agree.
    SimRandom rng(5);
    for (int n = 0; n < 500; ++n) {
        ADSBFrameBytes frame{};
        for (std::size_t k = 0; k < 11; ++k) frame[k] = static_cast<std::uint8_t>(rng.nextU32());
        ADSBEncoder::setParity(frame);
        ASSERT_TRUE(ADSBDecoder::parityMatches(bitsOf(frame)));
        frame[rng.nextU32() % 14] ^= static_cast<std::uint8_t>(1u << (rng.nextU32() % 8));
        ASSERT_FALSE(ADSBDecoder::parityMatches(bitsOf(frame)));
    }
}

TEST(ADSBEncoderTest, FieldsRoundTripThroughTheDecoders) {
    const auto vel = ADSBEncoder::airborneVelocity(
        {.icao = 1, .groundSpeedKnots = 452.0, .trackDeg = 118.0, .verticalRateFpm = -1216});
    const auto v = decodeADSBVelocity(bitsOf(vel));
    ASSERT_TRUE(v.has_value());
    EXPECT_NEAR(v->groundSpeedKnots, 452.0, 1.0);  // 1 kt components
    EXPECT_NEAR(v->headingDeg, 118.0, 0.2);
    EXPECT_EQ(v->verticalRateFpm, -1216);
    for (int alt : {-1000, 0, 25, 8'000, 37'025, 50'175}) {
        const auto pos = ADSBEncoder::airbornePosition({.icao = 1, .altitudeFeet = alt});
        EXPECT_EQ(decodeADSBAltitudeFeet(bitsOf(pos)), alt);
    }
    EXPECT_EQ(decodeADSBCallsign(bitsOf(ADSBEncoder::identification({.icao = 1, .callsign = "EZY12AB"}))),
              "EZY12AB");
}
