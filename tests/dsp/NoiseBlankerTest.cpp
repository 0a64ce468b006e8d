#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/NoiseBlanker.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;

TEST(NoiseBlankerTest, SpikeIsReplacedByLastGoodSample) {
    struct Case {
        std::size_t spikeAt;
        IQSample expected;
    };
    // Magnitude 0.1 tone, spike of magnitude 1.0 (10 × the average, threshold 4 ×). At the
    // very first sample after construction there is no good sample yet: 0 + 0i.
    const auto tone = makeTone(10'000.0, kRate, 4'000, 0.1f);
    const Case cases[] = {{2'000, tone[1'999]}, {0, IQSample{}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spikeAt);
        NoiseBlanker nb;
        nb.process(makeTone(10'000.0, kRate, 20'000, 0.1f));  // average settles at 0.1
        NoiseBlanker fresh;
        NoiseBlanker& blanker = c.spikeAt == 0 ? fresh : nb;
        std::vector<IQSample> x = tone;
        x[c.spikeAt] = {0.6f, 0.8f};
        const float avgBefore = blanker.averageMagnitude();
        std::vector<IQSample> head(x.begin(), x.begin() + static_cast<long>(c.spikeAt) + 1);
        const auto out = blanker.process(head);
        EXPECT_EQ(out.back(), c.expected);
        // the spike does not move the average; the good samples before it may
        NoiseBlanker reference;
        if (c.spikeAt > 0) {
            reference.process(makeTone(10'000.0, kRate, 20'000, 0.1f));
            reference.process(
                std::vector<IQSample>(tone.begin(), tone.begin() + static_cast<long>(c.spikeAt)));
            EXPECT_EQ(blanker.averageMagnitude(), reference.averageMagnitude());
        } else {
            EXPECT_EQ(blanker.averageMagnitude(), avgBefore);
        }
    }
}

TEST(NoiseBlankerTest, ImpulsesInCleanSignalAreHeld) {
    // Tone with noise at magnitude ~0.3; impulses (one of 3 samples, one single) after the
    // average has settled: only the impulses change.
    auto x = makeTone(25'000.0, kRate, 50'000, 0.3f);
    const auto noise = makeNoise(61, x.size(), 0.02f);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = {x[n].i + noise[n].i, x[n].q + noise[n].q};
    NoiseBlanker nb;
    nb.process(std::span<const IQSample>(x).first(20'000));
    const std::vector<IQSample> clean(x.begin() + 20'000, x.end());
    std::vector<IQSample> y = clean;
    for (std::size_t n : {10'000u, 10'001u, 10'002u, 21'000u}) y[n] = {3.0f, -2.0f};
    const auto out = nb.process(y);
    for (std::size_t n = 0; n < y.size(); ++n) {
        if (n >= 10'000 && n <= 10'002)
            ASSERT_EQ(out[n], clean[9'999]) << n;
        else if (n == 21'000)
            ASSERT_EQ(out[n], clean[20'999]);
        else
            ASSERT_EQ(out[n], clean[n]) << n;
    }
}

TEST(NoiseBlankerTest, RiseInLevelIsNotBlankedForEver) {
    // From construction the average is 0.05; a signal of magnitude 0.5 (and later a jump
    // from 0.1 to 1.0) is above 4 × the average at every sample. After at most 64 held
    // samples it passes, and the average follows it.
    struct Case {
        float before, after;
    };
    const Case cases[] = {{0.0f, 0.5f}, {0.1f, 1.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        NoiseBlanker nb;
        if (c.before > 0) nb.process(makeTone(10'000.0, kRate, 20'000, c.before));
        const auto strong = makeTone(10'000.0, kRate, 20'000, c.after);
        const auto out = nb.process(strong);
        std::size_t held = 0;
        while (held < out.size() && !(out[held] == strong[held])) ++held;
        EXPECT_LE(held, 64u);
        for (std::size_t n = held; n < out.size(); ++n) ASSERT_EQ(out[n], strong[n]) << n;
        EXPECT_NEAR(nb.averageMagnitude(), c.after, c.after * 0.01);
    }
}

TEST(NoiseBlankerTest, NothingIsBlankedWithoutReferenceLevel) {
    NoiseBlanker nb;
    nb.process(std::vector<IQSample>(10'000));  // 0.05 × 0.999^10000 < 0.0001
    ASSERT_LE(nb.averageMagnitude(), 0.0001f);
    const IQSample spike{1.0f, 0.0f};
    EXPECT_EQ(nb.process(std::vector<IQSample>{spike})[0], spike);
}

TEST(NoiseBlankerTest, ThresholdMultiplierIsHonoured) {
    struct Case {
        float multiplier, spike;
        bool blanked;
    };
    const Case cases[] = {
        {4.0f, 0.39f, false}, {4.0f, 0.41f, true}, {8.0f, 0.79f, false}, {8.0f, 0.81f, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.multiplier << " " << c.spike);
        NoiseBlanker nb(1.0f);
        nb.setThresholdMultiplier(c.multiplier);
        nb.process(makeTone(10'000.0, kRate, 20'000, 0.1f));
        const auto out = nb.process(std::vector<IQSample>{{c.spike, 0.0f}});
        EXPECT_EQ(out[0].i != c.spike, c.blanked);
    }
}

TEST(NoiseBlankerTest, OutputDoesNotDependOnBlockCuts) {
    // Impulses every 997 samples land at block starts for many cuts; the held sample is
    // carried across blocks, so block edges make no difference.
    auto x = makeTone(10'000.0, kRate, 40'000, 0.1f);
    for (std::size_t n = 0; n < x.size(); n += 997) x[n] = {1.0f, 1.0f};
    NoiseBlanker whole;
    const auto reference = whole.process(x);
    for (const auto& pattern : cutPatterns()) {
        NoiseBlanker nb;
        const auto out = processInCuts<IQSample, IQSample>(std::span<const IQSample>(x), pattern,
                                                           [&](std::span<const IQSample> b) {
                                                               std::vector<IQSample> o(b.size());
                                                               nb.process(b, o);
                                                               return o;
                                                           });
        EXPECT_EQ(out, reference);
    }
}

}  // namespace
