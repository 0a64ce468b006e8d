#include "feeds/ADSBBeastFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "FeedTestSupport.h"
#include "adsb/ADSBTestFrames.h"

namespace {

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (const int v : values) out.push_back(static_cast<char>(v));
    return out;
}

}  // namespace

TEST(ADSBBeastFormatTest, PublishedFrameEncodesByteForByte) {
    // One second of stream time is 12,000,000 ticks = 0x00B71B00; level 0.5 gives 127.5 -> 128.
    DecodedADSBMessage m = messageOf(frameFromHex(kIdentificationKLM1023));
    m.sampleIndex = 2'048'000;
    m.signalLevel = 0.5f;
    const std::string expected =
        bytesOf({0x1a, '3', 0x00, 0x00, 0x00, 0xB7, 0x1B, 0x00, 0x80,  //
                 0x8D, 0x48, 0x40, 0xD6, 0x20, 0x2C, 0xC3, 0x71, 0xC3, 0x2C, 0xE0, 0x57, 0x60, 0x98});
    EXPECT_EQ(encodeBeastLongFrame(m), expected);
}

TEST(ADSBBeastFormatTest, EveryEscapeByteInsideAFrameIsDoubled) {
    // Sample 1152 is tick 6750 = 0x1A5E; level 26/255 is signal byte 0x1a; every frame byte is
    // 0x1a. Only the leading escape stays single.
    DecodedADSBMessage m;
    for (std::size_t k = 0; k < 112; ++k) m.rawBits[k] = (0x1a >> (7 - k % 8)) & 1;
    m.sampleIndex = 1152;
    m.signalLevel = 26.0f / 255.0f;
    std::string expected = bytesOf({0x1a, '3', 0, 0, 0, 0, 0x1a, 0x1a, 0x5e, 0x1a, 0x1a});
    for (int k = 0; k < 14; ++k) expected += bytesOf({0x1a, 0x1a});
    EXPECT_EQ(encodeBeastLongFrame(m), expected);
    EXPECT_EQ(expected.size(), 39u);

    const auto records = readBeastStream(expected);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ticks, 6750u);
    EXPECT_EQ(records[0].signal, 0x1a);
    EXPECT_EQ(records[0].payload, std::vector<std::uint8_t>(14, 0x1a));
}

TEST(ADSBBeastFormatTest, TimestampCountsTwelveMegahertzTicksAndWrapsAt48Bits) {
    struct Case {
        std::uint64_t sampleIndex;
        std::uint64_t ticks;
    };
    // 12e6 / 2.048e6 = 5.859375 ticks per sample, fractions dropped.
    const Case cases[] = {
        {0, 0},
        {1, 5},
        {63, 369},
        {64, 375},
        {2'048'000, 12'000'000},
        {176'947'200'000, 1'036'800'000'000},  // one day
        {48'038'396'025'285, 281'474'976'710'654},  // last index before 2^48 ticks
        {48'038'396'025'286, 4},                     // 2^48 + 4 ticks, wrapped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sampleIndex);
        EXPECT_EQ(beastTimestampTicks(c.sampleIndex), c.ticks);
    }
}

TEST(ADSBBeastFormatTest, SignalByteIsMagnitudeSoReadersGetPowerBySquaring) {
    struct Case {
        float level;
        std::uint8_t byte;
    };
    const Case cases[] = {{1.0f, 255}, {0.5f, 128}, {0.1f, 26}, {0.0f, 0},
                          {3.0f, 255}, {-0.2f, 0},  {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        EXPECT_EQ(beastSignalByte(c.level), c.byte);
    }
    // A reader's rssi, 10 log10((byte/255)^2), is the level in dBFS to within the byte's step.
    for (const float level : {1.0f, 0.3f, 0.1f, 0.05f}) {
        SCOPED_TRACE(level);
        const double byte = beastSignalByte(level);
        EXPECT_NEAR(10.0 * std::log10(std::pow(byte / 255.0, 2)), 20.0 * std::log10(level), 0.2);
    }
}

TEST(ADSBBeastFormatTest, RandomMessagesSurviveAStreamRoundTrip) {
    std::mt19937_64 random(1090);
    std::vector<DecodedADSBMessage> sent;
    std::string stream = "\x1a\x1a noise a late joiner sees first";
    for (int n = 0; n < 500; ++n) {
        DecodedADSBMessage m;
        for (auto& bit : m.rawBits) bit = random() & 1;
        m.sampleIndex = random() >> 20;
        m.signalLevel = static_cast<float>(random() % 256) / 255.0f;
        BeastFrameBuffer buffer;
        const std::size_t length = encodeBeastLongFrame(m, buffer);
        ASSERT_LE(length, kBeastMaxLongFrameBytes);
        stream.append(reinterpret_cast<const char*>(buffer.data()), length);
        sent.push_back(m);
    }
    const auto records = readBeastStream(stream);
    ASSERT_EQ(records.size(), sent.size());
    for (std::size_t n = 0; n < sent.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(records[n].type, '3');
        EXPECT_EQ(records[n].ticks, beastTimestampTicks(sent[n].sampleIndex));
        EXPECT_EQ(records[n].signal, beastSignalByte(sent[n].signalLevel));
        const auto frame = adsbFrameBytes(sent[n]);
        EXPECT_EQ(records[n].payload, std::vector<std::uint8_t>(frame.begin(), frame.end()));
        EXPECT_EQ(bitsOf(frame), sent[n].rawBits);
    }
}
