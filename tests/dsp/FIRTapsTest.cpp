#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"

namespace {

// Independent double-precision design of the same Hamming-windowed sinc, normalised.
std::vector<double> referenceLowpass(double rate, double cutoff, int oddTaps) {
    const double fc = 2.0 * std::min(cutoff / rate, 0.45), pi = std::numbers::pi;
    std::vector<double> h(static_cast<std::size_t>(oddTaps));
    double sum = 0.0;
    for (int k = 0; k < oddTaps; ++k) {
        const int j = k - oddTaps / 2;
        const double w = 0.54 - 0.46 * std::cos(2.0 * pi * k / (oddTaps - 1));
        h[std::size_t(k)] = (j == 0 ? fc : std::sin(pi * fc * j) / (pi * j)) * w;
        sum += h[std::size_t(k)];
    }
    for (double& v : h) v /= sum;
    return h;
}

TEST(FIRTapsTest, MatchesIndependentDesign) {
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
            EXPECT_NEAR(taps[k], ref[k], 2e-6);  // float sin/cos against double
            // symmetric to the float rounding of the window (cos near 1 at the ends)
            EXPECT_NEAR(taps[k], taps[taps.size() - 1 - k], 2e-6 * std::abs(taps[k]));
            sum += taps[k];
        }
        EXPECT_NEAR(sum, 1.0, 1e-6);
    }
    // 0.45 × 2,048,000 = 921,600 Hz is the highest cut-off designed.
    EXPECT_EQ(
        FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 1'000'000.0, .numTaps = 129}),
        FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 921'600.0, .numTaps = 129}));
}

TEST(FIRTapsTest, SystemLowpassesMeetPassbandAndStopband) {
    struct Case {
        double rate, cutoff, passEdge, stopEdge;
    };
    // Stage 1 flat over the multiplex to 75 kHz (stereo, RDS), stopping what folds below
    // 128 kHz after decimation by 8; stage 2 flat over audio with the 19 kHz pilot gone.
    // Limits: the measured design (0.04 dB, -55 dB) with margin.
    const Case cases[] = {{2'048'000.0, 100'000.0, 75'000.0, 128'000.0},
                          {256'000.0, 15'000.0, 11'000.0, 19'000.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cutoff);
        const auto taps =
            FIRTaps::lowpass({.sampleRate = c.rate, .cutoffHz = c.cutoff, .numTaps = 129});
        for (double f = 0.0; f <= c.passEdge; f += 250.0)
            EXPECT_NEAR(firGainDB(taps, f, c.rate), 0.0, 0.05) << f;
        EXPECT_NEAR(firGainDB(taps, c.cutoff, c.rate), -6.0, 0.1);
        for (double f = c.stopEdge; f <= c.rate / 2.0; f += 250.0)
            EXPECT_LT(firGainDB(taps, f, c.rate), -54.0) << f;
    }
}

TEST(FIRTapsTest, DegenerateCountsGiveNoNaN) {
    // One tap: the even-count window denominator would be 0 and the window 0/0.
    for (int n : {0, 1})
        EXPECT_EQ(FIRTaps::lowpass({.sampleRate = 48e3, .cutoffHz = 1e3, .numTaps = n}),
                  std::vector<float>{1.0f});
    EXPECT_TRUE(FIRTaps::lowpass({.sampleRate = 48e3, .cutoffHz = 1e3, .numTaps = -4}).empty());
    // Zero cut-off: taps sum to 0 and are returned unnormalised.
    EXPECT_EQ(FIRTaps::lowpass({.sampleRate = 48e3, .cutoffHz = 0.0, .numTaps = 9}),
              std::vector<float>(9, 0.0f));
}

}  // namespace
