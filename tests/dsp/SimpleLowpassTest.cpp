#include <gtest/gtest.h>

#include <numbers>

#include "dsp/DspTestSupport.h"
#include "dsp/SimpleLowpass.h"
#include "support/TestSignals.h"

namespace {

TEST(SimpleLowpassTest, OnePoleResponse) {
    SimpleLowpass lp({.sampleRate = 256'000.0, .cutoffHz = 15'000.0});
    // (1/256000) / (1/256000 + 1/(2π 15000))
    EXPECT_NEAR(lp.smoothingFactor(), 0.2691, 1e-4);
    EXPECT_FLOAT_EQ(lp.process(1.0f), lp.smoothingFactor());

    for (double toneHz : {1'000.0, 15'000.0, 38'000.0}) {
        SCOPED_TRACE(toneHz);
        SimpleLowpass f({.sampleRate = 256'000.0, .cutoffHz = 15'000.0});
        std::vector<float> x = makeRealTone(toneHz, 256'000.0, 51'200);
        for (float& v : x) v = f.process(v);
        const double a = f.smoothingFactor();
        const double w = 2 * std::numbers::pi * toneHz / 256'000.0;
        const double expected = a / std::abs(1.0 - (1.0 - a) * std::polar(1.0, -w));
        EXPECT_NEAR(toneAmplitude(std::span<const float>(x).subspan(25'600), toneHz, 256'000.0),
                    expected, 1e-3);
    }
}

}  // namespace
