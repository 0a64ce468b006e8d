#include <gtest/gtest.h>

#include "dsp/DeEmphasisFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 51'200.0;
const DeEmphasisFilter::Config k50us{.sampleRate = kRate, .timeConstantMicroseconds = 50.0};

TEST(DeEmphasisFilterTest, StepAndFrequencyResponse) {
    DeEmphasisFilter step(k50us);
    EXPECT_EQ(step.smoothingFactor(), 0.28089887f);  // the controller's constant
    const auto out = step.process(std::vector<float>(200, 1.0f));
    for (std::size_t n = 0; n < out.size(); ++n)
        ASSERT_NEAR(out[n], 1.0 - std::pow(1.0 - 0.28089887, double(n + 1)), 1e-6);

    // This one-pole falls by 3 dB at 2,713 Hz; at the analog 50 µs corner, 3,183 Hz, it
    // gives -3.75 dB. Values from the closed form alpha / |1 - (1 - alpha) e^-jw|.
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
        DeEmphasisFilter de(k50us);
        const auto y = de.process(makeRealTone(c.toneHz, kRate, 102'400));
        EXPECT_NEAR(toDB(toneAmplitude(lastSamples(y, 51'200), c.toneHz, kRate)), c.gainDB, 0.02);
    }
}

TEST(DeEmphasisFilterTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        randomSignal(41, 20'000), [] { return std::make_unique<DeEmphasisFilter>(k50us); },
        [](DeEmphasisFilter& f, std::span<const float> b) { return f.process(b); });
}

}  // namespace
