#include <gtest/gtest.h>

#include "dsp/ChannelFilter.h"
#include "dsp/DCBlockFilter.h"
#include "dsp/DeEmphasisFilter.h"
#include "dsp/Decimator.h"
#include "dsp/DspTestSupport.h"
#include "dsp/FMDemodulator.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Frequency modulator: phase advances by 2π × deviation × message / rate, on a carrier
// offsetHz away from the centre (a constant offset only adds DC after the discriminator).
std::vector<IQSample> fmModulate(const std::vector<float>& message, double deviationHz,
                                 double offsetHz = 0.0) {
    std::vector<IQSample> out(message.size());
    double phase = 0.0;
    for (std::size_t n = 0; n < message.size(); ++n) {
        phase += kTwoPi * (deviationHz * message[n] + offsetHz) / kRate;
        out[n] = {float(std::cos(phase)), float(std::sin(phase))};
    }
    return out;
}

TEST(FMDemodulatorTest, RotationGivesPhaseStepTimesGain) {
    struct Case {
        double stepRad;
        float gain;
    };
    // ±0.1 rad per sample; 75 kHz deviation is 0.2301 rad; 5.25 is the narrow-band gain.
    const Case cases[] = {
        {0.0, 0.35f}, {0.1, 0.35f}, {-0.1, 0.35f}, {kTwoPi * 75e3 / kRate, 0.35f}, {0.1, 5.25f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.stepRad << " rad, gain " << c.gain);
        FMDemodulator demod(0.35f);
        demod.setGain(c.gain);
        const std::vector<float> out =
            demod.demodulate(makeTone(c.stepRad * kRate / kTwoPi, kRate, 4096, 0.8f, 1.0));
        EXPECT_EQ(out[0], 0.0f);  // measured against (0, 0)
        // The discriminator's arctangent is good to 1e-5 rad; float tones add about 1e-7.
        for (std::size_t n = 1; n < out.size(); ++n)
            ASSERT_NEAR(out[n], c.stepRad * c.gain, 1.2e-5 * c.gain) << n;
    }
}

TEST(FMDemodulatorTest, RecoversSumOfSines) {
    std::vector<float> message(20'000);
    for (std::size_t n = 0; n < message.size(); ++n)
        message[n] = float(0.6 * std::sin(kTwoPi * 1e3 * double(n) / kRate) +
                           0.4 * std::sin(kTwoPi * 3.7e3 * double(n) / kRate));
    FMDemodulator demod(0.35f);
    const std::vector<float> out = demod.demodulate(fmModulate(message, 75'000.0));
    for (std::size_t n = 1; n < out.size(); ++n)
        ASSERT_NEAR(out[n], message[n] * kTwoPi * 75e3 / kRate * 0.35, 2e-5 * 0.35) << n;
}

TEST(FMDemodulatorTest, MonoChainRecoversModulatingTone) {
    // 1 kHz at 75 kHz deviation, 10 kHz off centre, through the loop's mono FM chain: channel
    // filter to 256,000 samples/s, discriminator with the gain scaled for that rate, audio
    // decimator, de-emphasis, DC block. The tone keeps the level the discriminator gives at
    // 2,048,000 samples/s with gain 0.35, times the analogue de-emphasis at 1 kHz.
    ChannelFilter channel(ChannelFilterMode::wideFM, {.inputRateHz = kRate, .decimation = 8});
    FMDemodulator demod(0.35f / 8.0f);
    Decimator decimator(5, 256'000.0);
    DeEmphasisFilter deEmphasis({.sampleRate = 51'200.0, .timeConstantMicroseconds = 50.0});
    DCBlockFilter dcBlock;
    const auto iq = fmModulate(makeRealTone(1'000.0, kRate, 409'600), 75'000.0, 10'000.0);
    const auto audio = dcBlock.process(
        deEmphasis.process(decimator.process(demod.demodulate(channel.process(iq)))));
    ASSERT_EQ(audio.size(), 10'240u);
    const double deEmphasisGain = 1.0 / std::hypot(1.0, kTwoPi * 1e3 * 50e-6);
    const double expected = kTwoPi * 75e3 / kRate * 0.35 * deEmphasisGain;
    EXPECT_NEAR(toneAmplitude(lastSamples(audio, 5'120), 1'000.0, 51'200.0), expected,
                expected * 0.005);
    // nothing but the tone: residual DC and distortion well below it
    EXPECT_NEAR(rms(lastSamples(audio, 5'120)), expected / std::sqrt(2.0), expected * 0.01);
}

TEST(FMDemodulatorTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        makeNoise(21, 20'000, 0.3f), [] { return std::make_unique<FMDemodulator>(0.35f); },
        [](FMDemodulator& d, std::span<const IQSample> b) {
            std::vector<float> o(b.size());
            d.demodulate(b, o);
            return o;
        });
}

}  // namespace
