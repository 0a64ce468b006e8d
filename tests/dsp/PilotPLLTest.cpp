#include <gtest/gtest.h>

#include <cmath>

#include "dsp/PilotPLL.h"

namespace {

constexpr double kRate = 256'000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

TEST(PilotPLLTest, LocksInPhaseWithTheSubcarrierWithinAThirdOfASecond) {
    struct Case {
        double pilotHz;
        float amplitude;
        double phase0;
    };
    // Exact pilot; ±3 Hz (150 ppm of sample-clock error); weak and strong pilots (the error
    // is an angle, so the loop is level-independent); start phases all round, including the
    // anti-phase start a loop with two stable points would keep, swapping left and right.
    const Case cases[] = {{19'000.0, 0.1f, 0.0},
                          {19'003.0, 0.1f, 1.0},
                          {18'997.0, 0.01f, 2.5},
                          {19'000.0, 0.5f, 4.0},
                          {19'000.0, 0.1f, std::numbers::pi},
                          {19'001.0, 0.1f, 3.1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.pilotHz << " Hz, amplitude " << c.amplitude << ", phase " << c.phase0);
        PilotPLL pll(kRate);
        // From 0.3 s to 0.4 s after a cold start the reference is correlated with the BS.450
        // subcarrier sin 2θ of pilot sin θ: the cosine of twice the phase error.
        double acc = 0.0, norm = 0.0;
        for (std::size_t n = 0; n < std::size_t(0.4 * kRate); ++n) {
            const double theta = kTwoPi * c.pilotHz * double(n) / kRate + c.phase0;
            const float r = pll.process(c.amplitude * float(std::sin(theta)));
            ASSERT_TRUE(pll.phaseRad() >= 0.0 && pll.phaseRad() < kTwoPi) << n;
            if (n >= std::size_t(0.3 * kRate)) {
                acc += r * std::sin(2.0 * theta);
                norm += std::sin(2.0 * theta) * std::sin(2.0 * theta);
            }
        }
        // cos 2e > 0.99995: e < 0.005 rad, crosstalk below -46 dB
        EXPECT_GT(acc / norm, 0.99995);
        EXPECT_NEAR(pll.freqRadPerSample() * kRate / kTwoPi, c.pilotHz, 0.5);
        EXPECT_GT(pll.inPhaseArm(), 0.45f * c.amplitude);  // locked: A/2, not -A/2
    }
}

TEST(PilotPLLTest, AudioNextToThePilotDoesNotPullTheLoop) {
    // Loud programme at 15 kHz (4 kHz from the pilot) and at 3 kHz, whose mixing product at
    // 16 kHz sits on the loop's update rate and would alias to DC: the reference still
    // stays within 0.005 rad (doubled) of the subcarrier.
    PilotPLL pll(kRate);
    double acc = 0.0, norm = 0.0;
    for (std::size_t n = 0; n < std::size_t(1.0 * kRate); ++n) {
        const double t = double(n) / kRate, theta = kTwoPi * 19'000.0 * t + 0.7;
        const double audio =
            0.45 * std::sin(kTwoPi * 15'000.0 * t) + 0.45 * std::sin(kTwoPi * 3'000.0 * t);
        const float r = pll.process(float(audio + 0.09 * std::sin(theta)));
        if (n >= std::size_t(0.5 * kRate)) {
            acc += r * std::sin(2.0 * theta);
            norm += std::sin(2.0 * theta) * std::sin(2.0 * theta);
        }
    }
    EXPECT_GT(acc / norm, 0.99995);
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
    // Silence: once the arms have emptied (to denormal rounding residue) the loop runs on at
    // its frequency.
    for (int n = 0; n < 100'000; ++n) pll.process(0.0f);
    const double freq = pll.freqRadPerSample();
    for (int n = 0; n < 16'000; ++n) {
        const double before = pll.phaseRad();
        for (int k = 0; k < PilotPLL::kUpdateSamples; ++k) pll.process(0.0f);
        ASSERT_EQ(pll.freqRadPerSample(), freq);
        ASSERT_NEAR(
            std::remainder(pll.phaseRad() - before - PilotPLL::kUpdateSamples * freq, kTwoPi), 0.0,
            1e-9);
    }
    // A loud burst of the wrong frequency after silence.
    for (int n = 0; n < 10'000; ++n) {
        pll.process(n % 2 ? 40.0f : -40.0f);
        ASSERT_TRUE(pll.phaseRad() >= 0.0 && pll.phaseRad() < kTwoPi) << n;
    }
}

}  // namespace
