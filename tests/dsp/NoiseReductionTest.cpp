#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/NoiseReduction.h"
#include "sim/SimRandom.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 51'200.0;

std::vector<float> gaussianNoise(std::uint64_t seed, std::size_t count, float sigma) {
    SimRandom rng(seed);
    std::vector<float> out(count);
    for (float& v : out) v = sigma * rng.gaussian();
    return out;
}

TEST(NoiseReductionTest, AmountZeroIsTransparent) {
    const std::vector<float> x = randomSignal(71, 10'000);
    NoiseReduction nr(0.0f);
    EXPECT_EQ(nr.process(x), x);
}

TEST(NoiseReductionTest, AmountOneSilencesAudioFarBelowTheFloor) {
    // The floor starts at 0.01; audio at 1e-4 has an envelope far below 3 × floor, so the
    // gain is close to 0 until the floor has come down (it falls with 0.002 per sample).
    NoiseReduction nr;
    nr.setAmount(1.0f);
    const std::vector<float> x = makeRealTone(1'000.0, kRate, 200, 1e-4f);
    const auto out = nr.process(x);
    for (std::size_t n = 0; n < out.size(); ++n)
        ASSERT_LE(std::abs(out[n]), std::abs(x[n]) * 0.01f) << n;
}

TEST(NoiseReductionTest, AttenuatesNoiseMoreThanTone) {
    // One second of noise alone sets the floor; then a tone 20 dB above it starts. The
    // noise is expanded down, the tone's onset passes (it is measured over its first
    // 20 ms, before the slowly rising floor catches up with it).
    const auto noise = gaussianNoise(72, 76'800, 0.01f);
    std::vector<float> x = noise;
    const auto tone = makeRealTone(1'000.0, kRate, 25'600, 0.2f);
    for (std::size_t n = 0; n < tone.size(); ++n) x[51'200 + n] += tone[n];
    NoiseReduction nr(0.5f);
    const auto out = nr.process(x);
    const auto gainDB = [&](std::size_t from, std::size_t count) {
        return toDB(rms(std::span<const float>(out).subspan(from, count)) /
                    rms(std::span<const float>(x).subspan(from, count)));
    };
    const double noiseDB = gainDB(25'600, 25'600);
    const double toneDB = gainDB(51'200 + 100, 1'024);
    EXPECT_LT(noiseDB, -2.0);
    EXPECT_GT(noiseDB, -6.1);  // amount 0.5 attenuates by at most half
    EXPECT_GT(toneDB, -0.5);
}

TEST(NoiseReductionTest, OutputDoesNotDependOnBlockCuts) {
    const auto x = gaussianNoise(73, 20'000, 0.05f);
    NoiseReduction whole;
    const auto reference = whole.process(x);
    for (const auto& pattern : cutPatterns()) {
        NoiseReduction nr;
        EXPECT_EQ((processInCuts<float, float>(std::span<const float>(x), pattern,
                                               [&](std::span<const float> b) {
                                                   std::vector<float> o(b.size());
                                                   nr.process(b, o);
                                                   return o;
                                               })),
                  reference);
    }
}

}  // namespace
