#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/StereoAudioTools.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 51'200.0;
const StereoAudioTools::Config kConfig{
    .noiseReductionAmount = 0.5f,
    .notch = {.sampleRate = kRate, .frequencyHz = 3'000.0, .q = 10.0}};
constexpr StereoAudioTools::Enabled kBoth{.noiseReduction = true, .notch = true};

TEST(StereoAudioToolsTest, ChannelsDoNotLeakIntoEachOther) {
    // A programme on the left and a silent right, blocks as the loop hands them over. The
    // right must stay silent (with one shared state it carried the left at about -25 dB),
    // and the left must come out as if the right were not there.
    const std::vector<float> programme = makeRealTone(1'000.0, kRate, 51'200, 0.3f);
    StereoAudioTools stereo(kConfig), monoOnly(kConfig);
    std::vector<float> leftOut, rightOut, alone;
    for (std::size_t pos = 0; pos < programme.size(); pos += 205) {
        const std::size_t n = std::min<std::size_t>(205, programme.size() - pos);
        std::vector<float> left(programme.begin() + pos, programme.begin() + pos + n);
        std::vector<float> right(n, 0.0f);
        std::vector<float> single = left;
        stereo.process(left, right, kBoth);
        monoOnly.process(single, {}, kBoth);
        leftOut.insert(leftOut.end(), left.begin(), left.end());
        rightOut.insert(rightOut.end(), right.begin(), right.end());
        alone.insert(alone.end(), single.begin(), single.end());
    }
    EXPECT_LT(toDB(rms(rightOut) / rms(leftOut) + 1e-12), -80.0);
    EXPECT_EQ(leftOut, alone);
}

}  // namespace
