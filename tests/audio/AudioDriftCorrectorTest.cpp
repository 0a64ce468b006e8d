#include "audio/AudioDriftCorrector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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
    const Case cases[] = {{0.4, 0.0}, {2.0, 0.005}, {0.0, -0.005}};
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
    // A producer 0.3 % fast (a poor crystal is 0.01 %): the queue settles back at 0.4 s and the
    // correction settles at the offset. Critically damped: the depth barely overshoots.
    QueueModel q{.depthSeconds = 0.4, .producerOffset = 0.003};
    double peak = 0.0;
    for (int k = 0; k < 6'000; ++k) {  // 60 s
        q.step();
        peak = std::max(peak, q.depthSeconds);
    }
    EXPECT_NEAR(q.depthSeconds, 0.4, 0.002);
    EXPECT_NEAR(q.corrector.correction(), 0.003, 0.0001);
    EXPECT_LT(peak, 0.46);

    // After a long stretch pinned at the limit (an offset beyond reach), the loop recovers as
    // soon as the offset is within reach again: the integral did not wind up.
    q.producerOffset = 0.02;
    for (int k = 0; k < 3'000; ++k) q.step();
    q.depthSeconds = 0.4;
    q.producerOffset = 0.0;
    double worst = 0.0;
    for (int k = 0; k < 6'000; ++k) {
        q.step();
        if (k > 3'000) worst = std::max(worst, std::abs(q.depthSeconds - 0.4));
    }
    EXPECT_LT(worst, 0.01);
}

TEST(AudioDriftCorrectorTest, BurstyDepthMovesTheRatioOnlySlightly) {
    // DAB+ superframes: 120 ms of audio arrive at once, so the depth saws by 0.12 s. The
    // smoothing keeps the correction's swing far below what an ear notices (0.5 %).
    AudioDriftCorrector corrector;
    double depth = 0.34, lo = 1.0, hi = -1.0;  // saws 0.34 to 0.46: 0.4 on average
    for (int k = 0; k < 6'000; ++k) {
        if (k % 12 == 0) depth += 0.12;
        const double c = corrector.update(depth, 0.01);
        depth -= 0.01 * (1.0 + c);
        if (k > 2'000) {
            lo = std::min(lo, c);
            hi = std::max(hi, c);
        }
    }
    EXPECT_LT(hi - lo, 0.0005);
}
