#include <gtest/gtest.h>

#include <cmath>

#include "dsp/PilotDetector.h"
#include "sim/SimRandom.h"

namespace {

constexpr double kUpdateRate = 16'000.0;  // the pilot loop's update rate at 256,000 samples/s

// Feeds `seconds` of arm values: in-phase A/2 plus noise, quadrature noise alone, the noise
// Gaussian with the stated standard deviation; returns the detector's states over time.
struct Trace {
    std::vector<bool> present;
    std::vector<float> amount;
};
Trace feed(PilotDetector& detector, double seconds, float pilotArm, float noiseSigma,
           std::uint64_t seed) {
    SimRandom rng(seed);
    Trace t;
    for (std::size_t n = 0; n < std::size_t(seconds * kUpdateRate); ++n) {
        detector.update(pilotArm + noiseSigma * rng.gaussian(), noiseSigma * rng.gaussian());
        t.present.push_back(detector.isPilotPresent());
        t.amount.push_back(detector.stereoAmount());
    }
    return t;
}

TEST(PilotDetectorTest, PresenceAndStereoAmountByRatio) {
    struct Case {
        double ratioDB;
        bool present;
        float minAmount, maxAmount;
    };
    // Mono below 20 dB, full stereo from 40 dB, linear between; no pilot at all is noise in
    // both arms. Amounts in between allow for the ratio's own fluctuation.
    const Case cases[] = {{50.0, true, 1.0f, 1.0f},
                          {40.5, true, 0.97f, 1.0f},
                          {30.0, true, 0.4f, 0.6f},
                          {15.0, true, 0.0f, 0.0f},
                          {-100.0, false, 0.0f, 0.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ratioDB);
        PilotDetector detector(kUpdateRate);
        const float pilot = c.ratioDB > -100.0 ? 0.01f : 0.0f;
        const float sigma =
            c.ratioDB > -100.0 ? 0.01f * float(std::pow(10.0, -c.ratioDB / 20.0)) : 0.01f;
        const Trace t = feed(detector, 1.0, pilot, sigma, 5);
        EXPECT_EQ(detector.isPilotPresent(), c.present);
        EXPECT_GE(detector.stereoAmount(), c.minAmount);
        EXPECT_LE(detector.stereoAmount(), c.maxAmount);
        if (!c.present) {
            // Noise alone never flickers into stereo, not even for one update.
            EXPECT_EQ(std::count(t.present.begin(), t.present.end(), true), 0);
        }
    }
}

TEST(PilotDetectorTest, HysteresisHoldsBetweenTheThresholds) {
    PilotDetector detector(kUpdateRate);
    feed(detector, 0.3, 0.01f, 0.0f, 7);
    ASSERT_TRUE(detector.isPilotPresent());
    // 8 dB: below "on" (10 dB), above "off" (6 dB): stays on.
    const float sigma8 = 0.01f * float(std::pow(10.0, -8.0 / 20.0));
    Trace t = feed(detector, 1.0, 0.01f, sigma8, 8);
    EXPECT_EQ(std::count(t.present.begin(), t.present.end(), false), 0);
    // Gone: off within 0.1 s, and 8 dB does not bring it back.
    feed(detector, 0.1, 0.0f, sigma8, 9);
    EXPECT_FALSE(detector.isPilotPresent());
    t = feed(detector, 1.0, 0.01f, sigma8, 10);
    EXPECT_EQ(std::count(t.present.begin(), t.present.end(), true), 0);
}

TEST(PilotDetectorTest, StereoAmountSlewsAndStartsFromMono) {
    PilotDetector detector(kUpdateRate);
    const Trace t = feed(detector, 0.5, 0.01f, 0.0f, 11);
    // Nothing while the loop locks and the first averages fill (120 ms); then at most a full
    // swing per 100 ms.
    for (std::size_t n = 0; n < 1'900; ++n) ASSERT_FALSE(t.present[n]) << n;
    EXPECT_TRUE(t.present[1'920]);
    for (std::size_t n = 1; n < t.amount.size(); ++n)
        ASSERT_LE(t.amount[n] - t.amount[n - 1], 1.0f / 1'600.0f + 1e-6f) << n;
    EXPECT_EQ(t.amount.back(), 1.0f);
    // reset() is a new detector
    detector.reset();
    EXPECT_FALSE(detector.isPilotPresent());
    EXPECT_EQ(detector.stereoAmount(), 0.0f);
    PilotDetector fresh(kUpdateRate);
    EXPECT_EQ(feed(detector, 0.2, 0.01f, 0.001f, 12).amount,
              feed(fresh, 0.2, 0.01f, 0.001f, 12).amount);
}

}  // namespace
