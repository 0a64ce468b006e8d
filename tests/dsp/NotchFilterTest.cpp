#include <gtest/gtest.h>

#include <limits>

#include "dsp/DspTestSupport.h"
#include "dsp/NotchFilter.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 51'200.0;

double toneGainDB(NotchFilter& notch, double toneHz) {
    const auto out = notch.process(makeRealTone(toneHz, kRate, 102'400));
    return toDB(toneAmplitude(std::span<const float>(out).subspan(51'200), toneHz, kRate));
}

TEST(NotchFilterTest, RejectsCentreAndPassesElsewhere) {
    // Q 10: the notch is centre/10 wide at -3 dB, so half and twice the centre pass.
    for (double centre : {1'000.0, 440.0, 5'000.0}) {
        SCOPED_TRACE(centre);
        const NotchFilter::Config config{.sampleRate = kRate, .frequencyHz = centre, .q = 10.0};
        NotchFilter atCentre(config), atDouble(config), atHalf(config), atDC(config);
        EXPECT_LT(toneGainDB(atCentre, centre), -30.0);
        EXPECT_NEAR(toneGainDB(atDouble, 2.0 * centre), 0.0, 0.1);
        EXPECT_NEAR(toneGainDB(atHalf, 0.5 * centre), 0.0, 0.1);
        // b0 + b1 + b2 = 1 + a1 + a2: unit gain at DC
        EXPECT_NEAR(atDC.process(std::vector<float>(20'000, 1.0f)).back(), 1.0f, 1e-4f);
    }
}

TEST(NotchFilterTest, CentreIsHeldInsideTheBand) {
    struct Case {
        double rate, requested, used;
    };
    // Upper limit fs/2 - 50 first, then the lower limit 50 (which wins when they cross).
    const Case cases[] = {{51'200.0, 30'000.0, 25'550.0},
                          {51'200.0, 10.0, 50.0},
                          {50.0, 10.0, 50.0},
                          {51'200.0, std::numeric_limits<double>::quiet_NaN(), 25'550.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        NotchFilter notch({.sampleRate = c.rate, .frequencyHz = c.requested, .q = 10.0});
        EXPECT_EQ(notch.centerHz(), c.used);
        for (float v : notch.process(randomSignal(81, 100))) ASSERT_FALSE(std::isnan(v));
    }
    NotchFilter top({.sampleRate = kRate, .frequencyHz = 30'000.0, .q = 10.0});
    EXPECT_LT(toneGainDB(top, 25'550.0), -30.0);
}

TEST(NotchFilterTest, ConfigureKeepsFilterMemory) {
    const std::vector<float> x = randomSignal(82, 4'000);
    const NotchFilter::Config config{.sampleRate = kRate, .frequencyHz = 1'000.0, .q = 10.0};
    NotchFilter whole(config), split(config);
    const auto reference = whole.process(x);
    auto out = split.process(std::span<const float>(x).first(1'500));
    split.configure(config);
    const auto rest = split.process(std::span<const float>(x).subspan(1'500));
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, reference);
}

TEST(NotchFilterTest, OutputDoesNotDependOnBlockCuts) {
    const std::vector<float> x = randomSignal(83, 20'000);
    const NotchFilter::Config config{.sampleRate = kRate, .frequencyHz = 1'000.0, .q = 10.0};
    NotchFilter whole(config);
    const auto reference = whole.process(x);
    for (const auto& pattern : cutPatterns()) {
        NotchFilter notch(config);
        EXPECT_EQ((processInCuts<float, float>(std::span<const float>(x), pattern,
                                               [&](std::span<const float> b) {
                                                   std::vector<float> o(b.size());
                                                   notch.process(b, o);
                                                   return o;
                                               })),
                  reference);
    }
}

}  // namespace
