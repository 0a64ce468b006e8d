#include <gtest/gtest.h>

#include <numbers>

#include "dsp/DeEmphasisFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 51'200.0;

TEST(DeEmphasisFilterTest, StepRisesWithOnePoleResponse) {
    DeEmphasisFilter de({.sampleRate = kRate, .timeConstantMicroseconds = 50.0});
    // (1/51200) / (1/51200 + 50e-6), as the controller's constant
    EXPECT_EQ(de.smoothingFactor(), 0.28089887f);
    const auto out = de.process(std::vector<float>(200, 1.0f));
    EXPECT_EQ(out[0], 0.28089887f);
    for (std::size_t n = 0; n < out.size(); ++n)
        ASSERT_NEAR(out[n], 1.0 - std::pow(1.0 - 0.28089887, static_cast<double>(n + 1)), 1e-6);
}

TEST(DeEmphasisFilterTest, FrequencyResponse) {
    // The one-pole with this alpha falls by 3 dB at 2,713 Hz (the analog 50 µs corner is
    // 3,183 Hz, where this filter gives -3.75 dB). Values from the closed-form response
    // alpha / |1 - (1 - alpha) e^-jw|.
    struct Case {
        double toneHz, gainDB;
    };
    const Case cases[] = {{100.0, -0.006},
                          {1'000.0, -0.558},
                          {2'713.0, -3.012},
                          {3'183.0, -3.753},
                          {10'000.0, -11.168}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        DeEmphasisFilter de({.sampleRate = kRate, .timeConstantMicroseconds = 50.0});
        const auto out = de.process(makeRealTone(c.toneHz, kRate, 102'400));
        EXPECT_NEAR(
            toDB(toneAmplitude(std::span<const float>(out).subspan(51'200), c.toneHz, kRate)),
            c.gainDB, 0.02);
    }
}

TEST(DeEmphasisFilterTest, OutputDoesNotDependOnBlockCuts) {
    const std::vector<float> x = randomSignal(41, 20'000);
    DeEmphasisFilter whole({.sampleRate = kRate, .timeConstantMicroseconds = 50.0});
    const std::vector<float> reference = whole.process(x);
    for (const auto& pattern : cutPatterns()) {
        DeEmphasisFilter de({.sampleRate = kRate, .timeConstantMicroseconds = 50.0});
        EXPECT_EQ(
            (processInCuts<float, float>(std::span<const float>(x), pattern,
                                         [&](std::span<const float> b) { return de.process(b); })),
            reference);
    }
    EXPECT_TRUE(whole.process(std::vector<float>{}).empty());
}

}  // namespace
