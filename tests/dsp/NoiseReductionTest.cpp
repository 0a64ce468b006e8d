#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/NoiseReduction.h"
#include "support/TestSignals.h"

namespace {

std::vector<float> gaussianNoise(std::uint64_t seed, std::size_t count, float sigma) {
    SimRandom rng(seed);
    std::vector<float> out(count);
    for (float& v : out) v = sigma * rng.gaussian();
    return out;
}

TEST(NoiseReductionTest, AttenuatesNoiseMoreThanTone) {
    // One second of noise sets the floor, then a tone 20 dB above it starts. The noise is
    // expanded down (by at most half at amount 0.5); the tone passes over its first 20 ms,
    // before the slowly rising floor catches up with it.
    std::vector<float> x = gaussianNoise(72, 76'800, 0.01f);
    const auto tone = makeRealTone(1'000.0, 51'200.0, 25'600, 0.2f);
    for (std::size_t n = 0; n < tone.size(); ++n) x[51'200 + n] += tone[n];
    NoiseReduction nr(0.5f);
    const auto out = nr.process(x);
    const auto gainDB = [&](std::size_t from, std::size_t count) {
        return toDB(rms(std::span<const float>(out).subspan(from, count)) /
                    rms(std::span<const float>(x).subspan(from, count)));
    };
    EXPECT_LT(gainDB(25'600, 25'600), -2.0);
    EXPECT_GT(gainDB(25'600, 25'600), -6.1);
    EXPECT_GT(gainDB(51'300, 1'024), -0.5);

    // amount 0: transparent; amount 1 on audio far below 3 × the initial floor: near silence
    NoiseReduction off(0.0f), full(1.0f);
    EXPECT_EQ(off.process(x), x);
    const auto faint = makeRealTone(1'000.0, 51'200.0, 200, 1e-4f);
    const auto y = full.process(faint);
    for (std::size_t n = 0; n < y.size(); ++n)
        ASSERT_LE(std::abs(y[n]), std::abs(faint[n]) * 0.01f) << n;
}

TEST(NoiseReductionTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        gaussianNoise(73, 20'000, 0.05f), [] { return std::make_unique<NoiseReduction>(); },
        [](NoiseReduction& f, std::span<const float> b) {
            std::vector<float> o(b.size());
            f.process(b, o);
            return o;
        });
}

}  // namespace
