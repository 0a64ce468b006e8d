#include <gtest/gtest.h>

#include "dsp/Decimator.h"
#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"
#include "support/TestSignals.h"

namespace {

constexpr double kInputRate = 2'048'000.0;
constexpr double kOutputRate = kInputRate / 40.0;

TEST(DecimatorTest, EqualsTheTwoStagesInSequence) {
    const std::vector<float> x = randomSignal(11, 30'000);
    StreamingFIRDecimator s1(
        FIRTaps::lowpass({.sampleRate = kInputRate, .cutoffHz = 100'000.0, .numTaps = 129}), 8);
    StreamingFIRDecimator s2(
        FIRTaps::lowpass({.sampleRate = kInputRate / 8.0, .cutoffHz = 15'000.0, .numTaps = 129}),
        5);
    Decimator decimator(40);
    EXPECT_EQ(decimator.process(x), s2.process(s1.process(x)));
}

TEST(DecimatorTest, FactorArgumentIsIgnored) {
    const std::vector<float> x = randomSignal(12, 5'000);
    Decimator forty(40), ten(10);
    EXPECT_EQ(forty.process(x), ten.process(x));
}

TEST(DecimatorTest, PassesAudioAndRejectsWhatWouldAlias) {
    struct Case {
        double toneHz, minDB, maxDB;
    };
    // Audio passes within the stages' ripple; the 19 kHz pilot, 30 kHz (above the 25.6 kHz
    // output Nyquist) and 57 kHz RDS are gone. Stopband limits from the measured designs
    // less about 1 dB.
    const Case cases[] = {{1'000.0, -0.05, 0.05},
                          {10'000.0, -0.05, 0.05},
                          {19'000.0, -200.0, -54.0},
                          {30'000.0, -200.0, -54.0},
                          {57'000.0, -200.0, -54.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        Decimator decimator(40, kInputRate);
        const std::vector<float> out =
            decimator.process(makeRealTone(c.toneHz, kInputRate, 204'800));
        // skip the filters' settling (129 taps at both rates: a few ms)
        const std::span<const float> settled = std::span<const float>(out).subspan(400);
        // a tone above the output Nyquist would reappear at its alias frequency
        const double alias = std::abs(std::remainder(c.toneHz, kOutputRate));
        const double gainDB = toDB(toneAmplitude(settled, alias, kOutputRate));
        EXPECT_GT(gainDB, c.minDB);
        EXPECT_LT(gainDB, c.maxDB);
    }
}

TEST(DecimatorTest, OutputDoesNotDependOnBlockCuts) {
    const std::vector<float> x = randomSignal(13, 50'000);
    Decimator whole(40);
    const std::vector<float> reference = whole.process(x);
    EXPECT_EQ(reference.size(), 1250u);
    for (const auto& pattern : cutPatterns()) {
        Decimator decimator(40);
        const auto out = processInCuts<float, float>(
            std::span<const float>(x), pattern, [&](std::span<const float> b) {
                std::vector<float> o(decimator.outputCount(b.size()));
                EXPECT_EQ(decimator.process(b, o), o.size());
                return o;
            });
        EXPECT_EQ(out, reference);
    }
}

TEST(DecimatorTest, ResetRestartsBothStages) {
    const std::vector<float> x = randomSignal(14, 9'000);
    Decimator fresh(40), used(40);
    used.process(randomSignal(15, 1'234));
    used.reset();
    EXPECT_EQ(used.process(x), fresh.process(x));
}

}  // namespace
