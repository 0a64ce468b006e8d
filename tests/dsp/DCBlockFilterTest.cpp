#include <gtest/gtest.h>

#include "dsp/DCBlockFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

TEST(DCBlockFilterTest, RemovesConstantAndKeepsAudio) {
    DCBlockFilter step;
    const auto out = step.process(std::vector<float>(3'000, 1.0f));
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_FLOAT_EQ(out[1], 0.995f);
    EXPECT_FLOAT_EQ(out[2], 0.990025f);
    EXPECT_LT(std::abs(out.back()), 1e-6f);  // 0.995^2999 ≈ 3e-7

    // 1 kHz riding on 0.3 of DC (the AM detector's offset)
    std::vector<float> x = makeRealTone(1'000.0, 51'200.0, 51'200, 0.2f);
    for (float& v : x) v += 0.3f;
    DCBlockFilter dc;
    const auto y = dc.process(x);
    double mean = 0.0;
    for (float v : lastSamples(y, 25'600)) mean += v / 25'600.0;
    EXPECT_NEAR(mean, 0.0, 1e-4);
    // |1 - z^-1| / |1 - 0.995 z^-1| at 1 kHz is +0.0135 dB (corner near 41 Hz)
    EXPECT_NEAR(toDB(toneAmplitude(lastSamples(y, 25'600), 1'000.0, 51'200.0) / 0.2), 0.0135,
                0.002);
}

TEST(DCBlockFilterTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        randomSignal(51, 20'000), [] { return std::make_unique<DCBlockFilter>(); },
        [](DCBlockFilter& f, std::span<const float> b) { return f.process(b); });
}

}  // namespace
