#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"

namespace {

// Independent double-precision design of the same Hamming-windowed sinc.
std::vector<double> referenceLowpass(double rate, double cutoff, int oddTaps) {
    const double fc = 2.0 * std::min(cutoff / rate, 0.45);
    const int centre = oddTaps / 2;
    std::vector<double> h(static_cast<std::size_t>(oddTaps));
    double sum = 0.0;
    for (int k = 0; k < oddTaps; ++k) {
        const int j = k - centre;
        const double ideal =
            j == 0 ? fc : std::sin(std::numbers::pi * fc * j) / (std::numbers::pi * j);
        const double w = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * k / (oddTaps - 1));
        h[static_cast<std::size_t>(k)] = ideal * w;
        sum += ideal * w;
    }
    for (double& v : h) v /= sum;
    return h;
}

TEST(FIRTapsTest, MatchesIndependentDesignSymmetricWithUnitDcGain) {
    struct Case {
        double rate, cutoff;
        int numTaps;
    };
    // The system's two designs, an even count (raised to 129) and a short filter.
    const Case cases[] = {{2'048'000.0, 100'000.0, 129},
                          {256'000.0, 15'000.0, 129},
                          {256'000.0, 15'000.0, 128},
                          {48'000.0, 5'000.0, 15}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.numTaps);
        const auto taps =
            FIRTaps::lowpass({.sampleRate = c.rate, .cutoffHz = c.cutoff, .numTaps = c.numTaps});
        const auto ref = referenceLowpass(c.rate, c.cutoff, c.numTaps | 1);
        ASSERT_EQ(taps.size(), ref.size());
        double sum = 0.0;
        for (std::size_t k = 0; k < taps.size(); ++k) {
            // float design vs double: differences are rounding of sin/cos in float
            EXPECT_NEAR(taps[k], ref[k], 2e-6);
            // symmetric to float rounding of the window (cos near 1 at the ends)
            EXPECT_NEAR(taps[k], taps[taps.size() - 1 - k], 2e-6 * std::abs(taps[k]));
            sum += taps[k];
        }
        EXPECT_NEAR(sum, 1.0, 1e-6);
    }
}

TEST(FIRTapsTest, EvenCountAndOverLimitCutoffGiveTheSameFilter) {
    EXPECT_EQ(FIRTaps::lowpass({.sampleRate = 256'000.0, .cutoffHz = 15'000.0, .numTaps = 128}),
              FIRTaps::lowpass({.sampleRate = 256'000.0, .cutoffHz = 15'000.0, .numTaps = 129}));
    // 0.45 × 2,048,000 = 921,600 Hz is the highest cut-off designed.
    EXPECT_EQ(
        FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 1'000'000.0, .numTaps = 129}),
        FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 921'600.0, .numTaps = 129}));
}

TEST(FIRTapsTest, SystemLowpassesMeetPassbandAndStopband) {
    struct Case {
        double rate, cutoff, passEdge, stopEdge, maxRippleDB, minStopDB;
    };
    // Stage 1 must be flat over the FM multiplex to 75 kHz (stereo and RDS) and stop what
    // folds back below 128 kHz after decimation by 8; stage 2 flat over audio and the 19 kHz
    // pilot gone. Limits leave about 1 dB margin on the measured design.
    const Case cases[] = {{2'048'000.0, 100'000.0, 75'000.0, 128'000.0, 0.05, 54.0},
                          {256'000.0, 15'000.0, 11'000.0, 19'000.0, 0.05, 54.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cutoff);
        const auto taps =
            FIRTaps::lowpass({.sampleRate = c.rate, .cutoffHz = c.cutoff, .numTaps = 129});
        for (double f = 0.0; f <= c.passEdge; f += 250.0)
            EXPECT_NEAR(firGainDB(taps, f, c.rate), 0.0, c.maxRippleDB) << f;
        EXPECT_NEAR(firGainDB(taps, c.cutoff, c.rate), -6.0, 0.1);
        for (double f = c.stopEdge; f <= c.rate / 2.0; f += 250.0)
            EXPECT_LT(firGainDB(taps, f, c.rate), -c.minStopDB) << f;
    }
}

TEST(FIRTapsTest, DegenerateCountsGiveNoNaN) {
    // A one-tap window would be 0/0 with the even-count denominator; it is a plain 1.
    EXPECT_EQ(FIRTaps::lowpass({.sampleRate = 48'000.0, .cutoffHz = 1'000.0, .numTaps = 1}),
              std::vector<float>{1.0f});
    EXPECT_EQ(FIRTaps::lowpass({.sampleRate = 48'000.0, .cutoffHz = 1'000.0, .numTaps = 0}),
              std::vector<float>{1.0f});
    EXPECT_TRUE(
        FIRTaps::lowpass({.sampleRate = 48'000.0, .cutoffHz = 1'000.0, .numTaps = -4}).empty());
    // Zero cut-off: all taps 0, sum 0, returned unnormalised.
    for (float t : FIRTaps::lowpass({.sampleRate = 48'000.0, .cutoffHz = 0.0, .numTaps = 9}))
        EXPECT_EQ(t, 0.0f);
}

}  // namespace
