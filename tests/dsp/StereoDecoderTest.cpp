#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"
#include "dsp/StereoDecoder.h"
#include "dsp/StreamingFIRDecimator.h"

namespace {

constexpr double kMpxRate = 2'048'000.0, kStereoRate = 256'000.0, kAudioRate = 51'200.0;

// ITU-R BS.450 multiplex: 90 % audio (L+R)/2 + (L-R)/2 sin 2θ, 10 % pilot sin θ.
std::vector<float> multiplex(double leftHz, double rightHz, bool pilot, double rate,
                             std::size_t count) {
    std::vector<float> out(count);
    const double w = 2 * std::numbers::pi / rate;
    for (std::size_t n = 0; n < count; ++n) {
        const double t = double(n), theta = w * 19'000.0 * t;
        const double l = 0.5 * std::sin(w * leftHz * t), r = 0.5 * std::sin(w * rightHz * t);
        out[n] = float(0.9 * ((l + r) / 2 + (pilot ? (l - r) / 2 * std::sin(2 * theta) : 0.0)) +
                       (pilot ? 0.1 * std::sin(theta) : 0.0));
    }
    return out;
}

// The loop's stereo path: pre-decimator by 8, decoder, decimators by 5.
StereoSamples stereoChain(const std::vector<float>& mpx) {
    StreamingFIRDecimator pre(
        FIRTaps::lowpass({.sampleRate = kMpxRate, .cutoffHz = 100e3, .numTaps = 129}), 8);
    StereoDecoder decoder(kStereoRate);
    const auto audioTaps =
        FIRTaps::lowpass({.sampleRate = kStereoRate, .cutoffHz = 15e3, .numTaps = 129});
    StreamingFIRDecimator left(audioTaps, 5), right(audioTaps, 5);
    const StereoSamples lr = decoder.process(pre.process(mpx));
    return {left.process(lr.left), right.process(lr.right)};
}

// Transmitted 0.9 × 0.5, through the decoder's two one-pole 15 kHz low-passes (the
// decimators are flat here within 0.05 dB).
double expectedAmplitude(double toneHz) {
    const SimpleLowpass lp({.sampleRate = kStereoRate, .cutoffHz = 15'000.0});
    return 0.45 *
           std::pow(10.0, 2.0 * onePoleGainDB(lp.smoothingFactor(), toneHz, kStereoRate) / 20.0);
}

TEST(StereoDecoderTest, SeparatesLeftAndRight) {
    // 1 kHz left only, 2.5 kHz right only; 4 s from a cold start (the loop settles in about
    // 2 s), measured over the last second. Swapped channels or a misphased reference fail.
    const StereoSamples out = stereoChain(multiplex(1'000.0, 2'500.0, true, kMpxRate, 8'192'000));
    ASSERT_EQ(out.left.size(), 204'800u);
    const auto l = lastSamples(out.left, 51'200), r = lastSamples(out.right, 51'200);
    EXPECT_NEAR(toneAmplitude(l, 1'000.0, kAudioRate), expectedAmplitude(1'000.0), 0.003);
    EXPECT_NEAR(toneAmplitude(r, 2'500.0, kAudioRate), expectedAmplitude(2'500.0), 0.003);
    EXPECT_LT(toDB(toneAmplitude(r, 1'000.0, kAudioRate) / 0.45), -40.0);
    EXPECT_LT(toDB(toneAmplitude(l, 2'500.0, kAudioRate) / 0.45), -40.0);
}

TEST(StereoDecoderTest, MonoWithoutPilotStaysMono) {
    // No pilot, no subcarrier: the difference path still runs against the free-running
    // reference, but what it makes lies near 38 kHz and the audio decimators remove it.
    const StereoSamples out = stereoChain(multiplex(1'000.0, 1'000.0, false, kMpxRate, 2'048'000));
    const auto l = lastSamples(out.left, 25'600), r = lastSamples(out.right, 25'600);
    EXPECT_NEAR(toneAmplitude(l, 1'000.0, kAudioRate), expectedAmplitude(1'000.0), 0.003);
    std::vector<float> diff(l.size());
    for (std::size_t n = 0; n < diff.size(); ++n) diff[n] = l[n] - r[n];
    EXPECT_LT(toDB(rms(diff) / rms(l)), -40.0);
}

TEST(StereoDecoderTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        multiplex(1'000.0, 0.0, true, kStereoRate, 30'000),
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
