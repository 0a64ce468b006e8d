#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "audio/AudioDriftCorrector.h"

namespace {

// A queue between a producer whose clock runs `producerOffset` fast and a device that takes
// 10 ms periods at nominal rate × (1 + correction). Depth in seconds of source samples.
struct QueueModel {
    double depthSeconds;
    double producerOffset;
    AudioDriftCorrector corrector{};

    double step() {
        constexpr double kPeriod = 0.01;
        const double c = corrector.update(depthSeconds, kPeriod);
        depthSeconds += kPeriod * ((1.0 + producerOffset) - (1.0 + c));
        return c;
    }
};

}  // namespace

TEST(AudioDriftCorrectorTest, HoldsTheTargetClampsLargeErrorsAndMovesSlowly) {
    struct Case {
        double depthSeconds, expected;
    };
    // Within ±50 ms of the target nothing moves: matched clocks play at exactly 1:1.
    const Case cases[] = {{0.4, 0.0}, {0.449, 0.0}, {0.351, 0.0}, {2.0, 0.005}, {0.0, -0.005}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depthSeconds);
        AudioDriftCorrector corrector;
        corrector.update(0.4, 0.01);
        // A queue that empties in 0.4 s (a producer that stopped) moves the ratio by 0.04 %.
        for (int k = 0; k < 40; ++k) corrector.update(c.depthSeconds, 0.01);
        EXPECT_LE(std::abs(corrector.correction()), 0.0004 + 1e-12);
        for (int k = 0; k < 10'000; ++k) corrector.update(c.depthSeconds, 0.01);
        EXPECT_NEAR(corrector.correction(), c.expected, 1e-12);
    }
}

TEST(AudioDriftCorrectorTest, AbsorbsAClockOffsetWithoutOvershootOrWindUp) {
    // A producer 0.3 % fast (a poor crystal is 0.01 %): the queue grows to the edge of the
    // tolerance and stays there, the correction settles at the offset. Critically damped:
    // the depth barely passes the edge.
    QueueModel q{.depthSeconds = 0.4, .producerOffset = 0.003};
    double peak = 0.0;
    for (int k = 0; k < 12'000; ++k) {  // 120 s
        q.step();
        peak = std::max(peak, q.depthSeconds);
    }
    EXPECT_NEAR(q.depthSeconds, 0.45, 0.005);
    EXPECT_NEAR(q.corrector.correction(), 0.003, 0.0001);
    EXPECT_LT(peak, 0.47);

    // After a long stretch pinned at the limit (an offset beyond reach), the loop recovers
    // once the offset is within reach again: the integral was clamped, so the queue dips
    // less than a quarter of its depth and settles at the tolerance's lower edge.
    q.producerOffset = 0.02;
    for (int k = 0; k < 3'000; ++k) q.step();
    q.depthSeconds = 0.4;
    q.producerOffset = 0.0;
    double lowest = 1.0;
    for (int k = 0; k < 12'000; ++k) {
        q.step();
        lowest = std::min(lowest, q.depthSeconds);
    }
    EXPECT_GT(lowest, 0.3);
    EXPECT_NEAR(q.depthSeconds, 0.35, 0.005);
    EXPECT_NEAR(q.corrector.correction(), 0.0, 0.0001);
}

TEST(AudioDriftCorrectorTest, BurstyDepthDoesNotMoveTheRatio) {
    // DAB+ superframes: 120 ms of audio arrive at once, so the depth saws by 0.12 s. Only the
    // average counts: a steady producer leaves the ratio exactly nominal, a fast one gets a
    // correction that does not ripple with the bursts.
    for (const double offset : {0.0, 0.002}) {
        SCOPED_TRACE(offset);
        AudioDriftCorrector corrector;
        double depth = 0.34, lo = 1.0, hi = -1.0;  // saws 0.34 to 0.46
        for (int k = 0; k < 12'000; ++k) {
            if (k % 12 == 0) depth += 0.12 * (1.0 + offset);
            const double c = corrector.update(depth, 0.01);
            depth -= 0.01 * (1.0 + c);
            if (k > 9'000) {
                lo = std::min(lo, c);
                hi = std::max(hi, c);
            }
        }
        EXPECT_NEAR(lo, offset, 0.0002);
        EXPECT_LT(hi - lo, 0.0001);
    }
}
