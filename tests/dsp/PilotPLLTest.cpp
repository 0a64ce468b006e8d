#include <gtest/gtest.h>

#include "dsp/PilotPLL.h"

namespace {

constexpr double kRate = 256'000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

TEST(PilotPLLTest, LocksInPhaseWithTheSubcarrier) {
    struct Case {
        double pilotHz;
        float amplitude;
        double phase0;
    };
    // Exact pilot; ±3 Hz (150 ppm of sample-clock error); weak and strong pilots and other
    // start phases (the normalised error makes the loop level-independent).
    const Case cases[] = {{19'000.0, 0.1f, 0.0},
                          {19'003.0, 0.1f, 1.0},
                          {18'997.0, 0.01f, 2.5},
                          {19'000.0, 0.5f, 4.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pilotHz << " Hz, amplitude " << c.amplitude);
        PilotPLL pll(kRate);
        // 4 s from a cold start (the loop settles in about 2 s); over the last 0.2 s the
        // reference is correlated with the BS.450 subcarrier sin 2θ of pilot sin θ.
        double acc = 0.0, norm = 0.0;
        const auto count = std::size_t(4.0 * kRate);
        for (std::size_t n = 0; n < count; ++n) {
            const double theta = kTwoPi * c.pilotHz * double(n) / kRate + c.phase0;
            const float r = pll.process(c.amplitude * float(std::sin(theta)));
            ASSERT_TRUE(pll.phaseRad() >= 0.0 && pll.phaseRad() < kTwoPi) << n;
            if (n + std::size_t(0.2 * kRate) >= count) {
                acc += r * std::sin(2.0 * theta);
                norm += std::sin(2.0 * theta) * std::sin(2.0 * theta);
            }
        }
        EXPECT_GT(acc / norm, 0.999);  // cos of the phase error: 2.6°, about 33 dB separation
        EXPECT_NEAR(pll.freqRadPerSample() * kRate / kTwoPi, c.pilotHz, 0.1);
    }
}

TEST(PilotPLLTest, FrequencyStaysWithinRange) {
    // A pilot 2 kHz off pulls the loop to its ±800 Hz edge and no further.
    for (double pilotHz : {21'000.0, 17'000.0}) {
        SCOPED_TRACE(pilotHz);
        PilotPLL pll(kRate);
        for (std::size_t n = 0; n < std::size_t(2.0 * kRate); ++n) {
            pll.process(0.1f * float(std::sin(kTwoPi * pilotHz * double(n) / kRate)));
            ASSERT_LE(std::abs(pll.freqRadPerSample() - pll.centerFreqRadPerSample()),
                      pll.freqRangeRadPerSample() * (1 + 1e-12));
        }
    }
}

TEST(PilotPLLTest, SilenceFreeRunsAndBurstStaysWrapped) {
    PilotPLL pll(kRate);
    for (std::size_t n = 0; n < 100'000; ++n)
        pll.process(0.1f * float(std::sin(kTwoPi * 19'002.0 * double(n) / kRate)));
    const double freq = pll.freqRadPerSample();
    // Silence: the divisor is held at 0.0005, the error is 0, the loop runs on at freq.
    for (int n = 0; n < 100'000; ++n) {
        const double before = pll.phaseRad();
        pll.process(0.0f);
        ASSERT_EQ(pll.freqRadPerSample(), freq);
        ASSERT_NEAR(std::remainder(pll.phaseRad() - before - freq, kTwoPi), 0.0, 1e-9);
    }
    // A loud burst after silence divides by the held divisor: steps of many turns.
    for (int n = 0; n < 1'000; ++n) {
        pll.process(n % 2 ? 40.0f : -40.0f);
        ASSERT_TRUE(pll.phaseRad() >= 0.0 && pll.phaseRad() < kTwoPi) << n;
    }
}

}  // namespace
