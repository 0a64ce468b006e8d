#include <gtest/gtest.h>

#include <numbers>

#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"
#include "dsp/SimpleLowpass.h"
#include "dsp/StereoDecoder.h"
#include "dsp/StreamingFIRDecimator.h"

namespace {

constexpr double kMpxRate = 2'048'000.0;
constexpr double kStereoRate = 256'000.0;
constexpr double kAudioRate = 51'200.0;

// ITU-R BS.450 multiplex: 90 % audio, 10 % pilot sin θ, L-R on the subcarrier sin 2θ.
std::vector<float> multiplex(double leftHz, double rightHz, bool pilot, double rate,
                             std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double theta = 2 * std::numbers::pi * 19'000.0 * t;
        const double l = leftHz > 0 ? 0.5 * std::sin(2 * std::numbers::pi * leftHz * t) : 0.0;
        const double r = rightHz > 0 ? 0.5 * std::sin(2 * std::numbers::pi * rightHz * t) : 0.0;
        const double sub = pilot ? std::sin(2 * theta) : 0.0;
        out[n] = static_cast<float>(0.9 * ((l + r) / 2 + (l - r) / 2 * sub) +
                                    (pilot ? 0.1 * std::sin(theta) : 0.0));
    }
    return out;
}

// Amplitude of a unit tone after the decoder's two cascaded 15 kHz one-pole low-passes.
double decoderLowpassGain(double toneHz) {
    const SimpleLowpass lp({.sampleRate = kStereoRate, .cutoffHz = 15'000.0});
    const double a = lp.smoothingFactor();
    const double w = 2 * std::numbers::pi * toneHz / kStereoRate;
    const double one = a / std::abs(1.0 - (1.0 - a) * std::polar(1.0, -w));
    return one * one;
}

// The controller's stereo path: pre-decimator by 8, decoder, decimators by 5.
struct StereoChain {
    StreamingFIRDecimator pre{
        FIRTaps::lowpass({.sampleRate = kMpxRate, .cutoffHz = 100'000.0, .numTaps = 129}), 8};
    StereoDecoder decoder{kStereoRate};
    StreamingFIRDecimator left{
        FIRTaps::lowpass({.sampleRate = kStereoRate, .cutoffHz = 15'000.0, .numTaps = 129}), 5};
    StreamingFIRDecimator right{
        FIRTaps::lowpass({.sampleRate = kStereoRate, .cutoffHz = 15'000.0, .numTaps = 129}), 5};

    StereoSamples run(const std::vector<float>& mpx) {
        const StereoSamples lr = decoder.process(pre.process(mpx));
        return {left.process(lr.left), right.process(lr.right)};
    }
};

TEST(StereoDecoderTest, SeparatesLeftAndRight) {
    // 1 kHz on the left only and 2.5 kHz on the right only, 4 s from a cold start (the loop
    // settles in about 2 s); measured over the last second.
    StereoChain chain;
    const StereoSamples out = chain.run(multiplex(1'000.0, 2'500.0, true, kMpxRate, 8'192'000));
    ASSERT_EQ(out.left.size(), 204'800u);
    const auto tail = [](const std::vector<float>& x) {
        return std::span<const float>(x).subspan(x.size() - 51'200);
    };
    const double leftWanted = toneAmplitude(tail(out.left), 1'000.0, kAudioRate);
    const double rightWanted = toneAmplitude(tail(out.right), 2'500.0, kAudioRate);
    // each channel carries its own tone at the transmitted 0.9 × 0.5 (through the decoder's
    // low-passes; the decimators are flat here to 0.05 dB) ...
    EXPECT_NEAR(leftWanted, 0.45 * decoderLowpassGain(1'000.0), 0.003);
    EXPECT_NEAR(rightWanted, 0.45 * decoderLowpassGain(2'500.0), 0.003);
    // ... and the other channel's at least 40 dB down
    EXPECT_LT(toDB(toneAmplitude(tail(out.right), 1'000.0, kAudioRate) / leftWanted), -40.0);
    EXPECT_LT(toDB(toneAmplitude(tail(out.left), 2'500.0, kAudioRate) / rightWanted), -40.0);
}

TEST(StereoDecoderTest, MonoWithoutPilotStaysMono) {
    // No pilot and no subcarrier: the difference path still runs against the free-running
    // reference, but what it makes lies near 38 kHz and the audio decimators remove it.
    StereoChain chain;
    const StereoSamples out = chain.run(multiplex(1'000.0, 1'000.0, false, kMpxRate, 2'048'000));
    const auto tail = [](const std::vector<float>& x) {
        return std::span<const float>(x).subspan(x.size() - 25'600);
    };
    EXPECT_NEAR(toneAmplitude(tail(out.left), 1'000.0, kAudioRate),
                0.45 * decoderLowpassGain(1'000.0), 0.003);
    EXPECT_NEAR(toneAmplitude(tail(out.right), 1'000.0, kAudioRate),
                0.45 * decoderLowpassGain(1'000.0), 0.003);
    std::vector<float> diff(out.left.size());
    for (std::size_t n = 0; n < diff.size(); ++n) diff[n] = out.left[n] - out.right[n];
    EXPECT_LT(toDB(rms(tail(diff)) / rms(tail(out.left))), -40.0);
}

TEST(StereoDecoderTest, OutputDoesNotDependOnBlockCuts) {
    const std::vector<float> mpx = multiplex(1'000.0, 0.0, true, kStereoRate, 30'000);
    StereoDecoder whole(kStereoRate);
    const StereoSamples reference = whole.process(mpx);
    for (const auto& pattern : cutPatterns()) {
        StereoDecoder decoder(kStereoRate);
        std::vector<float> left, right;
        processInCuts<float, float>(std::span<const float>(mpx), pattern,
                                    [&](std::span<const float> b) {
                                        std::vector<float> l(b.size()), r(b.size());
                                        decoder.process(b, l, r);
                                        left.insert(left.end(), l.begin(), l.end());
                                        right.insert(right.end(), r.begin(), r.end());
                                        return std::vector<float>{};
                                    });
        EXPECT_EQ(left, reference.left);
        EXPECT_EQ(right, reference.right);
    }
}

TEST(StereoDecoderTest, ResetRestartsThePilotLoop) {
    StereoDecoder decoder(kStereoRate);
    decoder.process(multiplex(1'000.0, 0.0, true, kStereoRate, 10'000));
    decoder.reset();
    EXPECT_EQ(decoder.pilotLoop().phaseRad(), 0.0);
    EXPECT_EQ(decoder.pilotLoop().freqRadPerSample(), decoder.pilotLoop().centerFreqRadPerSample());
}

}  // namespace
