#include <gtest/gtest.h>

#include <limits>

#include "dsp/DspTestSupport.h"
#include "dsp/NotchFilter.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 51'200.0;

double toneGainDB(const NotchFilter::Config& config, double toneHz) {
    NotchFilter notch(config);
    return toDB(toneAmplitude(
        lastSamples(notch.process(makeRealTone(toneHz, kRate, 102'400)), 51'200), toneHz, kRate));
}

TEST(NotchFilterTest, RejectsCentreAndPassesElsewhere) {
    // Q 10: the notch is centre / 10 wide at -3 dB, so half and twice the centre pass.
    for (double centre : {1'000.0, 440.0, 5'000.0}) {
        SCOPED_TRACE(centre);
        const NotchFilter::Config config{.sampleRate = kRate, .frequencyHz = centre, .q = 10.0};
        EXPECT_LT(toneGainDB(config, centre), -30.0);
        EXPECT_NEAR(toneGainDB(config, 2.0 * centre), 0.0, 0.1);
        EXPECT_NEAR(toneGainDB(config, 0.5 * centre), 0.0, 0.1);
        NotchFilter dc(config);  // b0 + b1 + b2 = 1 + a1 + a2
        EXPECT_NEAR(dc.process(std::vector<float>(20'000, 1.0f)).back(), 1.0f, 1e-4f);
    }
}

TEST(NotchFilterTest, CentreIsHeldInsideTheBand) {
    struct Case {
        double rate, requested, used;
    };
    // Upper limit fs/2 - 50 first, then the lower limit 50 (which wins when they cross).
    const Case cases[] = {{kRate, 30'000.0, 25'550.0},
                          {kRate, 10.0, 50.0},
                          {50.0, 10.0, 50.0},
                          {kRate, std::numeric_limits<double>::quiet_NaN(), 25'550.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        NotchFilter notch({.sampleRate = c.rate, .frequencyHz = c.requested, .q = 10.0});
        EXPECT_EQ(notch.centerHz(), c.used);
    }
    EXPECT_LT(toneGainDB({.sampleRate = kRate, .frequencyHz = 30'000.0, .q = 10.0}, 25'550.0),
              -30.0);
}

TEST(NotchFilterTest, OutputDoesNotDependOnBlockCutsOrReconfiguring) {
    const NotchFilter::Config config{.sampleRate = kRate, .frequencyHz = 1'000.0, .q = 10.0};
    // configure() with the same settings at every block keeps the filter memory
    expectChunkingInvariant(
        randomSignal(83, 20'000), [&] { return std::make_unique<NotchFilter>(config); },
        [&](NotchFilter& f, std::span<const float> b) {
            f.configure(config);
            std::vector<float> o(b.size());
            f.process(b, o);
            return o;
        });
}

}  // namespace
