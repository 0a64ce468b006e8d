#include "dab/AACDecoderFAAD.h"

#include <gtest/gtest.h>

#include <string>

#include "DABMSCTestEncoder.h"
#include "platform/DebugLog.h"

namespace {

struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        DebugLog::setHook([](std::string_view line, void* self) {
            static_cast<LogCapture*>(self)->lines.emplace_back(line);
        }, this);
    }
    ~LogCapture() { DebugLog::setHook(nullptr, nullptr); }
    bool contains(const std::string& text) const {
        for (const auto& l : lines) {
            if (l.find(text) != std::string::npos) return true;
        }
        return false;
    }
};

}  // namespace

TEST(AACDecoderFAADTest, AudioSpecificConfigForEachHeaderCombination) {
    using V = std::vector<std::uint8_t>;
    EXPECT_EQ(AACDecoderFAAD::buildAudioSpecificConfig(true, false, true), (V{0x11, 0x94}));
    EXPECT_EQ(AACDecoderFAAD::buildAudioSpecificConfig(false, true, false), (V{0x14, 0x0C, 0x56, 0xE5, 0xA8}));
    EXPECT_EQ(AACDecoderFAAD::buildAudioSpecificConfig(false, false, false), (V{0x12, 0x8C}));
    EXPECT_EQ(AACDecoderFAAD::buildAudioSpecificConfig(true, true, true), (V{0x13, 0x14, 0x56, 0xE5, 0x98}));
}

TEST(AACDecoderFAADTest, EveryFormatSetsUpAndReportsItsRate) {
    for (int bits = 0; bits < 8; ++bits) {
        const bool dac = bits & 1, sbr = bits & 2, stereo = bits & 4;
        SCOPED_TRACE(bits);
        const AACDecoderFAAD decoder(dac, sbr, stereo);
        EXPECT_TRUE(decoder.isReady());
        EXPECT_EQ(decoder.sampleRateHz(), dac ? 48'000.0 : 32'000.0);
        EXPECT_GE(decoder.outputChannels(), stereo ? 2 : 1);
    }
}

TEST(AACDecoderFAADTest, SetUpIsLogged) {
    LogCapture log;
    const AACDecoderFAAD decoder(true, false, true);
    EXPECT_TRUE(log.contains("FAAD Init2 dac=1 sbr=0 stereo=1"));
    EXPECT_TRUE(log.contains("1194"));
}

TEST(AACDecoderFAADTest, EmptyAUReturnsNothingWithoutCallingTheLibrary) {
    int calls = 0;
    AACDecoderFAAD decoder(true, false, true, [&](auto, int, double) { ++calls; });
    EXPECT_FALSE(decoder.decode({}));
    EXPECT_EQ(decoder.decodeInto({}), 0u);
    EXPECT_EQ(decoder.libraryDecodeCalls(), 0u);
    EXPECT_EQ(calls, 0);
}

TEST(AACDecoderFAADTest, DecodesSilentFramesMonoAndStereo) {
    for (const bool stereo : {false, true}) {
        SCOPED_TRACE(stereo);
        std::vector<std::size_t> counts;
        int channels = 0;
        AACDecoderFAAD decoder(true, false, stereo, [&](std::span<const std::int16_t> pcm, int ch, double rate) {
            counts.push_back(pcm.size());
            channels = ch;
            EXPECT_EQ(rate, 48'000.0);
            for (const std::int16_t s : pcm) ASSERT_EQ(s, 0);
        });
        const auto au = dabtest::silentAU(stereo);
        // The library holds back its first frame (overlap-add delay).
        EXPECT_FALSE(decoder.decode(au));
        for (int n = 0; n < 3; ++n) {
            const auto pcm = decoder.decode(au);
            ASSERT_TRUE(pcm) << n;
            EXPECT_EQ(pcm->size(), 960u * static_cast<std::size_t>(decoder.outputChannels()));
        }
        EXPECT_EQ(counts.size(), 3u);
        // What the frames report rules: a parametric-stereo capable library outputs two
        // channels even for a mono stream.
        EXPECT_EQ(channels, decoder.outputChannels());
        if (stereo) {
            EXPECT_EQ(channels, 2);
        }
    }
}

TEST(AACDecoderFAADTest, AGarbageAUGivesNothingAndTheNextOneDecodes) {
    LogCapture log;
    AACDecoderFAAD decoder(true, false, true);
    decoder.decode(dabtest::silentAU(true));
    ASSERT_TRUE(decoder.decode(dabtest::silentAU(true)));
    // A CPE announcing max_sfb 63 with section data running off the end of the AU.
    const std::vector<std::uint8_t> garbage = {0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(decoder.decode(garbage));
    EXPECT_TRUE(log.contains("FAAD decode error="));
    EXPECT_TRUE(decoder.isReady());
    EXPECT_TRUE(decoder.decode(dabtest::silentAU(true)));
}

TEST(AACDecoderFAADTest, AUsLedByADataStreamElementStillDecode) {
    AACDecoderFAAD decoder(false, false, false);
    const std::vector<std::uint8_t> pad = {0x00, 0x02, 0x41, 0x42, 0x43};
    decoder.decode(dabtest::silentAU(false, pad));
    const auto pcm = decoder.decode(dabtest::silentAU(false, pad));
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->size(), 960u * static_cast<std::size_t>(decoder.outputChannels()));
}
