#include <gtest/gtest.h>

#include <numbers>

#include "dsp/PilotPLL.h"

namespace {

constexpr double kRate = 256'000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Drives the loop with the pilot a·sin(θ), θ = 2π f n / rate + p, for `seconds`, checking
// the phase range every sample. Returns the correlation of the reference with the
// subcarrier sin(2θ) over the last 0.2 s (1: in phase at unit amplitude) and the loop's
// final frequency error.
struct LockResult {
    double coherence;
    double freqErrorHz;
};
LockResult drive(PilotPLL& pll, double pilotHz, float amplitude, double phase0, double seconds) {
    const auto count = static_cast<std::size_t>(seconds * kRate);
    double acc = 0.0, norm = 0.0;
    for (std::size_t n = 0; n < count; ++n) {
        const double theta = kTwoPi * pilotHz * static_cast<double>(n) / kRate + phase0;
        const float r = pll.process(amplitude * static_cast<float>(std::sin(theta)));
        EXPECT_GE(pll.phaseRad(), 0.0);
        EXPECT_LT(pll.phaseRad(), kTwoPi);
        if (n + static_cast<std::size_t>(0.2 * kRate) >= count) {
            acc += r * std::sin(2.0 * theta);
            norm += std::sin(2.0 * theta) * std::sin(2.0 * theta);
        }
    }
    return {acc / norm, (pll.freqRadPerSample() * kRate / kTwoPi) - pilotHz};
}

TEST(PilotPLLTest, LocksInPhaseWithTheSubcarrier) {
    struct Case {
        double pilotHz;
        float amplitude;
        double phase0;
    };
    // Exact pilot; a pilot off by 3 Hz (150 ppm of sample-clock error); a weak pilot and
    // other start phases (the normalised error makes lock level-independent).
    const Case cases[] = {{19'000.0, 0.1f, 0.0},
                          {19'003.0, 0.1f, 1.0},
                          {18'997.0, 0.01f, 2.5},
                          {19'000.0, 0.5f, 4.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.pilotHz << " Hz, amplitude " << c.amplitude << ", phase " << c.phase0);
        PilotPLL pll(kRate);
        const LockResult lock = drive(pll, c.pilotHz, c.amplitude, c.phase0, 4.0);
        // cos of the reference phase error: 0.999 is 2.6°, worth about 33 dB of separation
        EXPECT_GT(lock.coherence, 0.999);
        EXPECT_NEAR(lock.freqErrorHz, 0.0, 0.1);
    }
}

TEST(PilotPLLTest, FrequencyStaysWithinRange) {
    // A pilot 2 kHz off pulls the loop to its ±800 Hz edge and no further.
    for (double pilotHz : {21'000.0, 17'000.0}) {
        SCOPED_TRACE(pilotHz);
        PilotPLL pll(kRate);
        const auto count = static_cast<std::size_t>(2.0 * kRate);
        for (std::size_t n = 0; n < count; ++n) {
            pll.process(0.1f * static_cast<float>(
                                   std::sin(kTwoPi * pilotHz * static_cast<double>(n) / kRate)));
            ASSERT_LE(std::abs(pll.freqRadPerSample() - pll.centerFreqRadPerSample()),
                      pll.freqRangeRadPerSample() * (1 + 1e-12));
        }
    }
}

TEST(PilotPLLTest, SilenceFreeRunsAndBurstStaysWrapped) {
    PilotPLL pll(kRate);
    drive(pll, 19'002.0, 0.1f, 0.0, 1.0);
    const double freq = pll.freqRadPerSample();
    // Silence: the envelope decays, the divisor is held at 0.0005, the error is 0.
    for (int n = 0; n < 100'000; ++n) {
        const double before = pll.phaseRad();
        EXPECT_EQ(pll.process(0.0f), static_cast<float>(-std::sin(2.0 * before)));
        ASSERT_EQ(pll.freqRadPerSample(), freq);
        ASSERT_NEAR(std::remainder(pll.phaseRad() - before - freq, kTwoPi), 0.0, 1e-9);
    }
    // A loud burst after silence divides by the held divisor: steps of many turns.
    for (int n = 0; n < 1'000; ++n) {
        pll.process(n % 2 ? 40.0f : -40.0f);
        ASSERT_GE(pll.phaseRad(), 0.0);
        ASSERT_LT(pll.phaseRad(), kTwoPi);
    }
    pll.reset();
    EXPECT_EQ(pll.phaseRad(), 0.0);
    EXPECT_EQ(pll.freqRadPerSample(), pll.centerFreqRadPerSample());
}

}  // namespace
