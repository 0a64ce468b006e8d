#include <gtest/gtest.h>

#include <numbers>

#include "dsp/AMDemodulator.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;

std::vector<IQSample> amCarrier(double carrier, double depth, double toneHz, std::size_t count) {
    std::vector<IQSample> out(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double env = carrier * (1.0 + depth * std::sin(2 * std::numbers::pi * toneHz * t));
        // the carrier's own phase must not matter
        const double ph = 2 * std::numbers::pi * 3'000.0 * t;
        out[n] = {static_cast<float>(env * std::cos(ph)), static_cast<float>(env * std::sin(ph))};
    }
    return out;
}

TEST(AMDemodulatorTest, ConstantCarrierSettlesAtTargetLevel) {
    // Any carrier level ends at 0.3 once the average has followed it (49 ms time constant;
    // 0.6 s is twelve of them).
    for (double level : {0.02, 0.5, 1.0}) {
        SCOPED_TRACE(level);
        AMDemodulator am;
        const auto out = am.demodulate(amCarrier(level, 0.0, 0.0, 1'228'800));
        EXPECT_NEAR(out.back(), 0.3f, 1e-4f);
        EXPECT_NEAR(am.averageEnvelope(), level, level * 1e-3);
    }
}

TEST(AMDemodulatorTest, AudioToneKeepsItsLevelAcrossTheBand) {
    // 50 % modulation: the output tone is 0.3 × 0.5 at every audio frequency. (An AGC that
    // follows the audio instead of the carrier loses 10-15 dB at 300 Hz-1 kHz.)
    for (double toneHz : {100.0, 300.0, 1'000.0, 3'000.0}) {
        SCOPED_TRACE(toneHz);
        AMDemodulator am;
        const auto out = am.demodulate(amCarrier(0.4, 0.5, toneHz, 1'638'400));
        const std::span<const float> settled = std::span<const float>(out).subspan(819'200);
        EXPECT_NEAR(toDB(toneAmplitude(settled, toneHz, kRate) / 0.15), 0.0, 0.1);
    }
}

TEST(AMDemodulatorTest, SilenceGivesZero) {
    AMDemodulator am;
    for (float v : am.demodulate(std::vector<IQSample>(1'000'000))) ASSERT_EQ(v, 0.0f);
    EXPECT_LE(am.averageEnvelope(), 0.0001f);
}

TEST(AMDemodulatorTest, OutputDoesNotDependOnBlockCuts) {
    const auto iq = makeNoise(31, 20'000, 0.3f);
    AMDemodulator whole;
    const std::vector<float> reference = whole.demodulate(iq);
    for (const auto& pattern : cutPatterns()) {
        AMDemodulator am;
        const auto out = processInCuts<IQSample, float>(std::span<const IQSample>(iq), pattern,
                                                        [&](std::span<const IQSample> b) {
                                                            std::vector<float> o(b.size());
                                                            am.demodulate(b, o);
                                                            return o;
                                                        });
        EXPECT_EQ(out, reference);
    }
}

}  // namespace
