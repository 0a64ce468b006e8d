#include <gtest/gtest.h>

#include <numbers>

#include "dsp/DCBlockFilter.h"
#include "dsp/DeEmphasisFilter.h"
#include "dsp/Decimator.h"
#include "dsp/DspTestSupport.h"
#include "dsp/FMDemodulator.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;

// Frequency modulator for the tests: phase advances by 2π × deviation × message / rate.
std::vector<IQSample> fmModulate(const std::vector<float>& message, double deviationHz) {
    std::vector<IQSample> out(message.size());
    double phase = 0.0;
    for (std::size_t n = 0; n < message.size(); ++n) {
        phase += 2.0 * std::numbers::pi * deviationHz * message[n] / kRate;
        out[n] = {static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase))};
    }
    return out;
}

TEST(FMDemodulatorTest, RotationGivesPhaseStepTimesGain) {
    struct Case {
        double stepRad;
        float gain;
    };
    // ±0.1 rad per sample; 75 kHz deviation at 2,048,000 Hz is 0.2301 rad; 5.25 is the
    // narrow-band gain, 15 × the wide-band 0.35.
    const Case cases[] = {{0.0, 0.35f},
                          {0.1, 0.35f},
                          {-0.1, 0.35f},
                          {2.0 * std::numbers::pi * 75'000.0 / kRate, 0.35f},
                          {0.1, 5.25f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.stepRad << " rad, gain " << c.gain);
        FMDemodulator demod(0.35f);
        demod.setGain(c.gain);
        const auto tone =
            makeTone(c.stepRad * kRate / (2.0 * std::numbers::pi), kRate, 4096, 0.8f, 1.0);
        const std::vector<float> out = demod.demodulate(tone);
        // Sample 0 is measured against (0, 0) and is 0 whatever the sample.
        EXPECT_EQ(out[0], 0.0f);
        // float samples of the tone carry about 1e-7 rad of phase error each
        for (std::size_t n = 1; n < out.size(); ++n)
            ASSERT_NEAR(out[n], c.stepRad * c.gain, 2e-6 * c.gain) << n;
    }
}

TEST(FMDemodulatorTest, RecoversSumOfSines) {
    std::vector<float> message(20'000);
    for (std::size_t n = 0; n < message.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        message[n] = static_cast<float>(0.6 * std::sin(2 * std::numbers::pi * 1'000.0 * t) +
                                        0.4 * std::sin(2 * std::numbers::pi * 3'700.0 * t));
    }
    FMDemodulator demod(0.35f);
    const std::vector<float> out = demod.demodulate(fmModulate(message, 75'000.0));
    const double scale = 2.0 * std::numbers::pi * 75'000.0 / kRate * 0.35;
    for (std::size_t n = 1; n < out.size(); ++n) ASSERT_NEAR(out[n], message[n] * scale, 1e-6) << n;
}

TEST(FMDemodulatorTest, MonoChainRecoversModulatingTone) {
    // 1 kHz at 75 kHz deviation through demodulator, decimator by 40, 50 µs de-emphasis and
    // DC block: the tone arrives at 51,200 Hz scaled by the discriminator and de-emphasis.
    const std::vector<float> message = makeRealTone(1'000.0, kRate, 409'600);
    FMDemodulator demod(0.35f);
    Decimator decimator(40);
    DeEmphasisFilter deEmphasis({.sampleRate = 51'200.0, .timeConstantMicroseconds = 50.0});
    DCBlockFilter dcBlock;
    // a 10 kHz offset (as left by a mistuned station) only adds DC, which the blocker removes
    auto iq = fmModulate(message, 75'000.0);
    const auto offset = makeTone(10'000.0, kRate, iq.size());
    for (std::size_t n = 0; n < iq.size(); ++n)
        iq[n] = {iq[n].i * offset[n].i - iq[n].q * offset[n].q,
                 iq[n].i * offset[n].q + iq[n].q * offset[n].i};
    const auto audio = dcBlock.process(deEmphasis.process(decimator.process(demod.demodulate(iq))));
    ASSERT_EQ(audio.size(), 10'240u);
    const std::span<const float> settled = std::span<const float>(audio).subspan(5'120);
    const double alpha = deEmphasis.smoothingFactor();
    const double w = 2 * std::numbers::pi * 1'000.0 / 51'200.0;
    const double deEmphasisGain = alpha / std::abs(1.0 - (1.0 - alpha) * std::polar(1.0, -w));
    const double expected = 2 * std::numbers::pi * 75'000.0 / kRate * 0.35 * deEmphasisGain;
    EXPECT_NEAR(toneAmplitude(settled, 1'000.0, 51'200.0), expected, expected * 0.005);
    // nothing but the tone: residual DC and distortion well below it
    EXPECT_NEAR(rms(settled), expected / std::sqrt(2.0), expected * 0.01);
}

TEST(FMDemodulatorTest, OutputDoesNotDependOnBlockCuts) {
    const auto iq = makeNoise(21, 20'000, 0.3f);
    FMDemodulator whole(0.35f);
    const std::vector<float> reference = whole.demodulate(iq);
    for (const auto& pattern : cutPatterns()) {
        FMDemodulator demod(0.35f);
        const auto out = processInCuts<IQSample, float>(std::span<const IQSample>(iq), pattern,
                                                        [&](std::span<const IQSample> b) {
                                                            std::vector<float> o(b.size());
                                                            demod.demodulate(b, o);
                                                            return o;
                                                        });
        EXPECT_EQ(out, reference);
    }
}

TEST(FMDemodulatorTest, ResetForgetsPreviousSample) {
    FMDemodulator demod(0.35f);
    demod.demodulate(makeTone(1'000.0, kRate, 100));
    demod.reset();
    EXPECT_EQ(demod.demodulate(makeTone(0.0, kRate, 1, 1.0f, 2.0))[0], 0.0f);
    EXPECT_FLOAT_EQ(demod.currentGain(), 0.35f);
}

}  // namespace
