#include "sim/SimFractionalInterpolator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

// A complex tone read between samples must equal the tone evaluated there. Tolerance: the
// 70 dB kernel design (3e-4 ripple) plus the 1/4096-sample row rounding (6e-4 rad at 0.375).
TEST(SimFractionalInterpolatorTest, ReadsTonesAtFractionalPositionsAcrossTheDABBand) {
    SimFractionalInterpolator interpolator;
    for (double cycles : {0.0, 0.05, -0.2, 0.375, -0.375}) {
        SCOPED_TRACE(cycles);
        std::vector<std::complex<float>> x(200);
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] = std::polar(1.0f, static_cast<float>(2 * std::numbers::pi * cycles * static_cast<double>(n)));
        for (double mu : {0.0, 0.1, 0.5, 0.77, 0.999}) {
            const int i = 100;
            const auto got = interpolator.at(x.data() + i - interpolator.before(), mu);
            const auto want = std::polar(1.0, 2 * std::numbers::pi * cycles * (i + mu));
            EXPECT_LT(std::abs(std::complex<double>(got) - want), 1.5e-3) << mu;
        }
    }
}

TEST(SimFractionalInterpolatorTest, WholeSamplePositionsReturnTheSample) {
    SimFractionalInterpolator interpolator;
    std::vector<std::complex<float>> x(64);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = {static_cast<float>(n % 7) - 3.0f, static_cast<float>(n % 5)};
    for (int i = 20; i < 40; ++i) {
        const auto got = interpolator.at(x.data() + i - interpolator.before(), 0.0);
        EXPECT_NEAR(got.real(), x[static_cast<std::size_t>(i)].real(), 1e-6);
        EXPECT_NEAR(got.imag(), x[static_cast<std::size_t>(i)].imag(), 1e-6);
    }
}
