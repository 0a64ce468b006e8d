#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/NoiseBlanker.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;

TEST(NoiseBlankerTest, ImpulsesAreHeldAndCleanSignalPasses) {
    // Tone with noise at magnitude ~0.3; once the average has settled, impulses of 3
    // samples and of 1: only they change, to the last good sample, and they do not move
    // the average. Threshold multipliers around 10 × the level blank or pass a spike.
    auto x = makeTone(25'000.0, kRate, 40'000, 0.3f);
    const auto noise = makeNoise(61, x.size(), 0.02f);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = {x[n].i + noise[n].i, x[n].q + noise[n].q};
    NoiseBlanker nb, reference;
    const auto warmUp = makeTone(25'000.0, kRate, 20'000, 0.3f);
    nb.process(warmUp);
    reference.process(warmUp);
    std::vector<IQSample> y = x;
    for (std::size_t n : {10'000u, 10'001u, 10'002u, 21'000u}) y[n] = {3.0f, 0.0f};
    const auto out = nb.process(y);
    reference.process(std::span<const IQSample>(x).first(10'000));
    reference.process(std::span<const IQSample>(x).subspan(10'003, 21'000 - 10'003));
    reference.process(std::span<const IQSample>(x).subspan(21'001));
    EXPECT_EQ(nb.averageMagnitude(), reference.averageMagnitude());
    for (std::size_t n = 0; n < y.size(); ++n) {
        const std::size_t held = (n >= 10'000 && n <= 10'002) ? 9'999 : n == 21'000 ? 20'999 : n;
        ASSERT_EQ(out[n], x[held]) << n;
    }
    for (float multiplier : {9.0f, 11.0f}) {
        nb.setThresholdMultiplier(multiplier);
        const auto spike = nb.process(std::vector<IQSample>{{3.0f, 0.0f}});
        EXPECT_EQ(spike[0] == IQSample({3.0f, 0.0f}), multiplier > 10.0f) << multiplier;
    }
}

TEST(NoiseBlankerTest, StartAndLevelChanges) {
    // A spike as the very first sample becomes 0 + 0i. With the average decayed to 0.0001
    // or below nothing is blanked.
    NoiseBlanker first;
    EXPECT_EQ(first.process(std::vector<IQSample>{{1.0f, 0.0f}})[0], IQSample{});
    NoiseBlanker quiet;
    quiet.process(std::vector<IQSample>(10'000));  // 0.05 × 0.999^10000 < 0.0001
    EXPECT_EQ(quiet.process(std::vector<IQSample>{{1.0f, 0.0f}})[0], IQSample({1.0f, 0.0f}));

    // A signal 10 × the initial average from the start, and a jump from 0.1 to 1.0: above
    // 4 × the average at every sample. After at most 64 held samples it passes.
    struct Case {
        float before, after;
    };
    for (const Case c : {Case{0.0f, 0.5f}, Case{0.1f, 1.0f}}) {
        SCOPED_TRACE(c.after);
        NoiseBlanker nb;
        if (c.before > 0) nb.process(makeTone(10'000.0, kRate, 20'000, c.before));
        const auto strong = makeTone(10'000.0, kRate, 20'000, c.after);
        const auto out = nb.process(strong);
        std::size_t held = 0;
        while (held < out.size() && !(out[held] == strong[held])) ++held;
        EXPECT_LE(held, 64u);
        for (std::size_t n = held; n < out.size(); ++n) ASSERT_EQ(out[n], strong[n]) << n;
    }
}

TEST(NoiseBlankerTest, OutputDoesNotDependOnBlockCuts) {
    // Impulses every 997 samples fall on many block starts; the held sample is carried.
    auto x = makeTone(10'000.0, kRate, 40'000, 0.1f);
    for (std::size_t n = 0; n < x.size(); n += 997) x[n] = {1.0f, 1.0f};
    expectChunkingInvariant(
        x, [] { return std::make_unique<NoiseBlanker>(); },
        [](NoiseBlanker& nb, std::span<const IQSample> b) {
            std::vector<IQSample> o(b.size());
            nb.process(b, o);
            return o;
        });
}

}  // namespace
