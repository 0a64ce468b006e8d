#include <gtest/gtest.h>

#include "dsp/Decimator.h"
#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"
#include "support/TestSignals.h"

namespace {

constexpr double kInputRate = 2'048'000.0, kOutputRate = kInputRate / 40.0;

TEST(DecimatorTest, EqualsTheTwoStagesInSequence) {
    const std::vector<float> x = randomSignal(11, 30'000);
    StreamingFIRDecimator s1(
        FIRTaps::lowpass({.sampleRate = kInputRate, .cutoffHz = 100e3, .numTaps = 129}), 8);
    StreamingFIRDecimator s2(
        FIRTaps::lowpass({.sampleRate = kInputRate / 8.0, .cutoffHz = 15e3, .numTaps = 129}), 5);
    Decimator decimator(10);  // the factor argument is not used: always 40
    EXPECT_EQ(decimator.process(x), s2.process(s1.process(x)));
}

TEST(DecimatorTest, PassesAudioAndRejectsWhatWouldAlias) {
    struct Case {
        double toneHz, minDB, maxDB;
    };
    // Audio within the stages' ripple; the 19 kHz pilot, 30 kHz (above the 25.6 kHz output
    // Nyquist) and 57 kHz RDS gone. Limits from the measured designs with margin.
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
        // measured where a tone above the output Nyquist would reappear, after settling
        const double gainDB = toDB(toneAmplitude(
            lastSamples(out, 4'600), std::abs(std::remainder(c.toneHz, kOutputRate)), kOutputRate));
        EXPECT_GT(gainDB, c.minDB);
        EXPECT_LT(gainDB, c.maxDB);
    }
}

TEST(DecimatorTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        randomSignal(13, 50'000), [] { return std::make_unique<Decimator>(40); },
        [](Decimator& d, std::span<const float> b) {
            std::vector<float> o(d.outputCount(b.size()));
            EXPECT_EQ(d.process(b, o), o.size());
            return o;
        });
}

}  // namespace
