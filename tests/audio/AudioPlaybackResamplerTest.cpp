#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/AudioPlaybackResampler.h"
#include "support/SimulatedReceiver.h"

namespace {

std::vector<float> tone(double hz, double rateHz, std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t n = 0; n < count; ++n)
        out[n] = static_cast<float>(
            0.5 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / rateHz));
    return out;
}

struct Played {
    std::vector<float> left, right;
};

// Plays `frames` frames in calls of the given sizes (cycled), feeding each call exactly what
// it needs from `input` (both channels the same unless `inputRight` is given).
Played play(AudioPlaybackResampler& r, const std::vector<float>& input, std::size_t frames,
            const std::vector<std::size_t>& callSizes,
            const std::vector<float>* inputRight = nullptr) {
    Played out{std::vector<float>(frames), std::vector<float>(frames)};
    std::size_t done = 0, used = 0, call = 0;
    while (done < frames) {
        const std::size_t n = std::min(callSizes[call++ % callSizes.size()], frames - done);
        const std::size_t need = r.inputNeeded(n);
        EXPECT_LE(used + need, input.size());
        const std::span<const float> inL(input.data() + used, need);
        const std::span<const float> inR((inputRight ? *inputRight : input).data() + used, need);
        r.process(inL, inR, std::span(out.left).subspan(done, n),
                  std::span(out.right).subspan(done, n));
        used += need;
        done += n;
    }
    return out;
}

}  // namespace

TEST(AudioPlaybackResamplerTest, OneToOnePassesSamplesThroughAfterTheFilterDelay) {
    AudioPlaybackResampler r({.inputRateHz = 51'200.0, .outputRateHz = 51'200.0});
    std::vector<float> input(4'096);
    for (std::size_t n = 0; n < input.size(); ++n) input[n] = static_cast<float>(n % 97) - 48.0f;
    const Played out = play(r, input, 4'000, {512});
    for (std::size_t i = 0; i < AudioPlaybackResampler::kDelaySamples; ++i) EXPECT_EQ(out.left[i], 0.0f);
    for (std::size_t i = AudioPlaybackResampler::kDelaySamples; i < out.left.size(); ++i)
        ASSERT_EQ(out.left[i], input[i - AudioPlaybackResampler::kDelaySamples]) << i;
}

TEST(AudioPlaybackResamplerTest, OutputDoesNotDependOnHowCallsAreCut) {
    const std::vector<float> input = tone(997.0, 51'200.0, 60'000);
    const std::vector<std::vector<std::size_t>> cuts = {{40'000}, {1}, {441, 7, 1'024, 3, 512}};
    std::vector<Played> runs;
    for (const auto& cut : cuts) {
        AudioPlaybackResampler r({.inputRateHz = 51'200.0, .outputRateHz = 48'000.0});
        r.setRateCorrection(0.0031);  // an arbitrary trim: positions go fractional everywhere
        runs.push_back(play(r, input, 40'000, cut));
    }
    for (std::size_t k = 1; k < runs.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(runs[k].left, runs[0].left);
        EXPECT_EQ(runs[k].right, runs[0].right);
    }
}

TEST(AudioPlaybackResamplerTest, InputNeededAndFramesFromAgree) {
    AudioPlaybackResampler r({.inputRateHz = 48'000.0, .outputRateHz = 44'100.0});
    r.setRateCorrection(-0.004);
    const std::vector<float> input(10'000, 0.25f);
    play(r, input, 777, {777});  // leave a fractional position behind
    for (const std::size_t available : {0u, 1u, 2u, 100u, 5'000u}) {
        SCOPED_TRACE(available);
        const std::size_t frames = r.framesFrom(available);
        EXPECT_LE(r.inputNeeded(frames), available);
        EXPECT_GT(r.inputNeeded(frames + 1), available);
    }
}

TEST(AudioPlaybackResamplerTest, TonesKeepFrequencyAndLevelAndOutOfBandIsRemoved) {
    // Level: flat in the band the receiver plays (15 kHz analog audio, 17 to 20 kHz DAB+); the
    // frequency comes out unchanged because the tone is measured at the output rate.
    struct Case {
        double inHz, outHz, correction, toneHz, expectedGainDB, toleranceDB;  // < 0: at most
    };
    const Case cases[] = {
        {51'200, 48'000, 0.0, 1'000, 0.0, 0.01},
        {51'200, 48'000, 0.0, 15'000, 0.0, 0.01},
        {48'000, 44'100, 0.0, 17'000, 0.0, 0.01},
        {48'000, 51'200, 0.0, 20'000, 0.0, 0.01},   // upsampling keeps the whole band
        {51'200, 51'200, 0.004, 1'000, 0.0, 0.01},  // 1:1 trimmed for drift
        // 25 kHz is above 48 kHz's Nyquist: it would fold to 23 kHz. 80 dB design, 60 checked.
        {51'200, 48'000, 0.0, 25'000, -60.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inHz << " -> " << c.outHz << " tone " << c.toneHz);
        AudioPlaybackResampler r({.inputRateHz = c.inHz, .outputRateHz = c.outHz});
        r.setRateCorrection(c.correction);
        const std::vector<float> input = tone(c.toneHz, c.inHz, 40'000);
        const Played out = play(r, input, 30'000, {480});
        // The tone as the device plays it: stepping by input × (1 + correction) per frame.
        const double playedHz = c.toneHz * (1.0 + c.correction);
        const std::span<const float> settled = std::span(out.left).subspan(1'000);
        double level = std::sqrt(2.0 * tonePower(settled, playedHz, c.outHz));
        if (c.expectedGainDB < 0) {
            // Whatever folds back lands somewhere else: take the whole output's RMS.
            double power = 0.0;
            for (const float v : settled) power += double(v) * v;
            level = std::sqrt(2.0 * power / static_cast<double>(settled.size()));
        }
        const double gainDB = 20.0 * std::log10(std::max(level, 1e-12) / 0.5);
        if (c.expectedGainDB < 0) {
            EXPECT_LT(gainDB, c.expectedGainDB);
        } else {
            EXPECT_NEAR(gainDB, c.expectedGainDB, c.toleranceDB);
        }
    }
}
