#include <gtest/gtest.h>

#include "dsp/DCBlockFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

TEST(DCBlockFilterTest, StepDecaysByPolePerSample) {
    DCBlockFilter dc;
    const auto out = dc.process(std::vector<float>(3'000, 1.0f));
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_FLOAT_EQ(out[1], 0.995f);
    EXPECT_FLOAT_EQ(out[2], 0.990025f);
    // 0.995^2999 ≈ 3e-7: the constant is gone
    EXPECT_LT(std::abs(out.back()), 1e-6f);
}

TEST(DCBlockFilterTest, RemovesOffsetAndKeepsAudio) {
    // 1 kHz at 51,200 Hz riding on 0.3 of DC (the AM detector's offset)
    std::vector<float> x = makeRealTone(1'000.0, 51'200.0, 51'200, 0.2f);
    for (float& v : x) v += 0.3f;
    DCBlockFilter dc;
    const auto out = dc.process(x);
    const std::span<const float> settled = std::span<const float>(out).subspan(25'600);
    double mean = 0.0;
    for (float v : settled) mean += v;
    EXPECT_NEAR(mean / static_cast<double>(settled.size()), 0.0, 1e-4);
    // corner near 41 Hz: 1 kHz passes (|1 - z^-1| / |1 - 0.995 z^-1| is +0.0135 dB there)
    EXPECT_NEAR(toDB(toneAmplitude(settled, 1'000.0, 51'200.0) / 0.2), 0.0135, 0.002);
}

TEST(DCBlockFilterTest, OutputDoesNotDependOnBlockCuts) {
    const std::vector<float> x = randomSignal(51, 20'000);
    DCBlockFilter whole;
    const std::vector<float> reference = whole.process(x);
    for (const auto& pattern : cutPatterns()) {
        DCBlockFilter dc;
        EXPECT_EQ(
            (processInCuts<float, float>(std::span<const float>(x), pattern,
                                         [&](std::span<const float> b) { return dc.process(b); })),
            reference);
    }
    EXPECT_TRUE(whole.process(std::vector<float>{}).empty());
}

}  // namespace
