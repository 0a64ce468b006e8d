#include "sim/SimGaussianNoise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

// Moments and tail masses of N(0, 1) catch a wrong ziggurat table or tail sampler: a broken
// table shows in the variance and kurtosis, a broken tail in the mass beyond 3.44 (r).
TEST(SimGaussianNoiseTest, MatchesTheStandardNormalDistribution) {
    SimGaussianNoise noise(42);
    std::vector<float> x(2'000'001);  // odd: the last value takes the single-value path
    noise.fill(x, 1.0f);
    double m1 = 0, m2 = 0, m4 = 0, beyond1 = 0, beyond3 = 0, beyondR = 0;
    for (float v : x) {
        const double d = v;
        m1 += d;
        m2 += d * d;
        m4 += d * d * d * d;
        beyond1 += std::abs(d) > 1.0;
        beyond3 += std::abs(d) > 3.0;
        beyondR += std::abs(d) > 3.442619855899;
    }
    const double n = static_cast<double>(x.size());
    // Tolerances are about 4 standard errors at this sample size.
    EXPECT_NEAR(m1 / n, 0.0, 0.003);
    EXPECT_NEAR(m2 / n, 1.0, 0.004);
    EXPECT_NEAR(m4 / n, 3.0, 0.03);
    struct Tail {
        double count, expected;  // 2·Q(t) from the normal table
    };
    for (const Tail t : {Tail{beyond1, 0.317311}, Tail{beyond3, 0.0026998}, Tail{beyondR, 0.00057606}}) {
        SCOPED_TRACE(t.expected);
        const double sd = std::sqrt(t.expected / n);
        EXPECT_NEAR(t.count / n, t.expected, 4.0 * sd);
    }
}

TEST(SimGaussianNoiseTest, IsDeterministicPerSeedAndScaled) {
    SimGaussianNoise a(1), b(1), c(2);
    std::vector<float> xa(1'000), xb(1'000), xc(1'000);
    a.fill(xa, 0.5f);
    b.fill(xb, 1.0f);
    c.fill(xc, 0.5f);
    for (std::size_t k = 0; k < xa.size(); ++k) EXPECT_EQ(xa[k], 0.5f * xb[k]);
    EXPECT_NE(xa, xc);
}
