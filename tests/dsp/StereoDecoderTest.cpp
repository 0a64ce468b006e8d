#include <gtest/gtest.h>

#include "dsp/Decimator.h"
#include "dsp/DspTestSupport.h"
#include "dsp/StereoDecoder.h"

namespace {

constexpr double kStereoRate = 256'000.0, kAudioRate = 51'200.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

struct Multiplex {
    std::vector<double> leftHz, rightHz;  // tones of amplitude 0.5 each
    bool pilot = true;
    double pilotPhaseRad = 0.0;
    float noiseSigma = 0.0f;  // white, over the whole multiplex band
};

// ITU-R BS.450 multiplex, built here independently of the simulator's emitter: 90 % audio
// (L+R)/2 + (L-R)/2 sin 2θ and 10 % pilot sin θ; a mono programme has neither pilot nor
// subcarrier.
std::vector<float> multiplex(const Multiplex& m, double seconds) {
    std::vector<float> out(std::size_t(seconds * kStereoRate));
    SimRandom rng(17);
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double t = double(n) / kStereoRate;
        const double theta = kTwoPi * 19'000.0 * t + m.pilotPhaseRad;
        double l = 0.0, r = 0.0;
        for (double f : m.leftHz) l += 0.5 * std::sin(kTwoPi * f * t);
        for (double f : m.rightHz) r += 0.5 * std::sin(kTwoPi * f * t);
        const double stereo = m.pilot ? (l - r) / 2 * std::sin(2 * theta) : 0.0;
        out[n] = float(0.9 * ((l + r) / 2 + stereo) + (m.pilot ? 0.1 * std::sin(theta) : 0.0)) +
                 m.noiseSigma * rng.gaussian();
    }
    return out;
}

// The receiver's stereo path after the discriminator: decoder, then an audio decimator per
// channel (factor 5 to 51,200 Hz).
struct StereoPath {
    StereoDecoder decoder{kStereoRate};
    Decimator left{5, kStereoRate}, right{5, kStereoRate};
    StereoSamples run(const std::vector<float>& mpx) {
        const StereoSamples lr = decoder.process(mpx);
        return {left.process(lr.left), right.process(lr.right)};
    }
};

// Tone level in dB over `seconds` of audio starting at `fromSeconds`.
double levelDB(const std::vector<float>& audio, double toneHz, double fromSeconds, double seconds) {
    const auto window = std::span<const float>(audio).subspan(std::size_t(fromSeconds * kAudioRate),
                                                              std::size_t(seconds * kAudioRate));
    return toDB(toneAmplitude(window, toneHz, kAudioRate));
}

TEST(StereoDecoderTest, SeparatesHalfASecondAfterAColdStartAndFullyOnceSettled) {
    // 1 kHz left only, 2.5 kHz right only, the pilot at phases all round (the loop's start
    // phase is 0; π is the anti-phase start). 0.1 s windows at 0.5 s and over the third
    // second. Swapped channels give negative separations and fail.
    for (double phase : {0.0, 1.3, std::numbers::pi, 4.5}) {
        SCOPED_TRACE(phase);
        StereoPath path;
        const StereoSamples out = path.run(
            multiplex({.leftHz = {1'000.0}, .rightHz = {2'500.0}, .pilotPhaseRad = phase}, 3.0));
        ASSERT_EQ(out.left.size(), 153'600u);
        const auto separationDB = [&](double from, double seconds) {
            return std::min(levelDB(out.left, 1'000.0, from, seconds) -
                                levelDB(out.right, 1'000.0, from, seconds),
                            levelDB(out.right, 2'500.0, from, seconds) -
                                levelDB(out.left, 2'500.0, from, seconds));
        };
        EXPECT_GT(separationDB(0.5, 0.1), 20.0);
        EXPECT_GT(separationDB(2.0, 1.0), 40.0);
        EXPECT_TRUE(path.decoder.isPilotPresent());
        EXPECT_EQ(path.decoder.stereoAmount(), 1.0f);
        // Full level: 0.9 × 0.5 transmitted, the decimator flat to 0.003 dB.
        EXPECT_NEAR(levelDB(out.left, 1'000.0, 2.0, 1.0), toDB(0.45), 0.05);
    }
}

TEST(StereoDecoderTest, StereoAndMonoShareOneFlatResponse) {
    // Left-only tones across the audio band. Stereo gives 0.45 on the left; the mono path (the
    // same decimator on the multiplex) gives the sum, 0.225. Both flat within 0.05 dB to
    // 15 kHz, where one-pole 15 kHz filters on sum and difference lost 4 dB at 10 kHz and
    // 7 dB at 15 kHz.
    const Multiplex m{.leftHz = {1'000.0, 10'000.0, 15'000.0}, .rightHz = {}};
    const std::vector<float> mpx = multiplex(m, 1.5);
    StereoPath stereo;
    const StereoSamples lr = stereo.run(mpx);
    Decimator mono(5, kStereoRate);
    const std::vector<float> sum = mono.process(mpx);
    for (double f : m.leftHz) {
        SCOPED_TRACE(f);
        EXPECT_NEAR(levelDB(lr.left, f, 1.0, 0.5), toDB(0.45), 0.05);
        EXPECT_NEAR(levelDB(sum, f, 1.0, 0.5), toDB(0.225), 0.05);
    }
}

TEST(StereoDecoderTest, MonoWithoutPilotStaysMono) {
    // No pilot, no subcarrier: never reported as stereo and both outputs are the multiplex.
    StereoDecoder decoder(kStereoRate);
    const std::vector<float> mpx =
        multiplex({.leftHz = {1'000.0}, .rightHz = {1'500.0}, .pilot = false}, 2.0);
    std::vector<float> left(1'024), right(1'024);
    for (std::size_t pos = 0; pos < mpx.size(); pos += 1'024) {
        const auto block = std::span<const float>(mpx).subspan(pos, 1'024);
        decoder.process(block, left, right);
        ASSERT_FALSE(decoder.isPilotPresent()) << pos;
        ASSERT_EQ(left, std::vector<float>(block.begin(), block.end())) << pos;
        ASSERT_EQ(right, left) << pos;
    }
}

TEST(StereoDecoderTest, BlendsTowardsMonoAsTheNoiseRises) {
    // White noise on the multiplex. The pilot's 0.1 amplitude against noise of density
    // 2σ²/fs in the arms' 196 Hz noise bandwidth (two 250 Hz one-poles, π/4 × 250) gives a
    // ratio of 0.01 fs / (784 σ²). The decoder's figure, averaged over the last half second,
    // must follow it within 3 dB (the loop's own response adds about 1 dB of noise), and the
    // stereo amount with it: full stereo from 40 dB, mono below 20 dB, none without a pilot.
    struct Case {
        float sigma;
        float minAmount, maxAmount;
    };
    const Case cases[] = {{0.005f, 1.0f, 1.0f},   // 51 dB
                          {0.032f, 0.5f, 0.85f},  // 35 dB
                          {0.1f, 0.0f, 0.35f},    // 25 dB
                          {1.0f, 0.0f, 0.0f}};    // 5 dB
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sigma);
        const double expectedDB =
            10.0 * std::log10(0.01 * kStereoRate / (784.0 * c.sigma * c.sigma));
        const std::vector<float> mpx =
            multiplex({.leftHz = {1'000.0}, .rightHz = {}, .noiseSigma = c.sigma}, 1.5);
        StereoDecoder decoder(kStereoRate);
        std::vector<float> left(1'024), right(1'024);
        double sumDB = 0.0;
        int blocks = 0;
        bool monoOutput = true;
        for (std::size_t pos = 0; pos + 1'024 <= mpx.size(); pos += 1'024) {
            decoder.process(std::span<const float>(mpx).subspan(pos, 1'024), left, right);
            monoOutput = monoOutput && left == right;
            if (pos >= mpx.size() / 3) {
                sumDB += decoder.pilotToNoiseDB();
                ++blocks;
            }
        }
        if (expectedDB > 15.0) {
            EXPECT_NEAR(sumDB / blocks, expectedDB, 3.0);
        }
        EXPECT_GE(decoder.stereoAmount(), c.minAmount);
        EXPECT_LE(decoder.stereoAmount(), c.maxAmount);
        if (c.maxAmount == 0.0f) {
            EXPECT_TRUE(monoOutput) << "never left mono";
        }
    }
}

TEST(StereoDecoderTest, ResetForgetsTheLastStation) {
    // A retune: the new station's pilot has another phase. After reset() the decoder is a
    // new one, loop, detector and blend alike.
    const std::vector<float> before =
        multiplex({.leftHz = {700.0}, .rightHz = {}, .pilotPhaseRad = 2.0}, 0.6);
    const std::vector<float> after = multiplex({.leftHz = {1'000.0}, .rightHz = {2'000.0}}, 0.6);
    StereoDecoder used(kStereoRate), fresh(kStereoRate);
    used.process(before);
    ASSERT_TRUE(used.isPilotPresent());
    used.reset();
    EXPECT_FALSE(used.isPilotPresent());
    EXPECT_EQ(used.process(after), fresh.process(after));
}

TEST(StereoDecoderTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        multiplex({.leftHz = {1'000.0}, .rightHz = {}}, 0.12),
        [] { return std::make_unique<StereoDecoder>(kStereoRate); },
        [](StereoDecoder& d, std::span<const float> b) {
            std::vector<float> l(b.size()), r(b.size());
            d.process(b, l, r);
            std::vector<std::pair<float, float>> lr;
            for (std::size_t n = 0; n < b.size(); ++n) lr.emplace_back(l[n], r[n]);
            return lr;
        });
}

}  // namespace
