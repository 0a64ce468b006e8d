#include <gtest/gtest.h>

#include "dsp/Decimator.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kInputRate = 256'000.0, kOutputRate = kInputRate / 5.0;

// Gain of a tone through the decimator, measured at the output rate where the tone (or, above
// the output's Nyquist, its alias) lands, after the filter has settled.
double toneGainDB(Decimator& decimator, double toneHz, double inputRate) {
    const double outputRate = inputRate / decimator.factor();
    const std::vector<float> out = decimator.process(makeRealTone(toneHz, inputRate, 128'000));
    const double aliasHz = std::abs(std::remainder(toneHz, outputRate));
    return toDB(toneAmplitude(lastSamples(out, 12'800), aliasHz, outputRate));
}

TEST(DecimatorTest, AudioIsFlatAndThePilotAndSubcarriersAreGone) {
    struct Case {
        double toneHz, minDB, maxDB;
    };
    // Audio to 15 kHz within the design's ripple (0.003 dB) plus the measurement's; from the
    // 19 kHz pilot up, 70 dB designed, 65 dB checked: the pilot, what would fold into the
    // audio band at 30 and 40 kHz, the stereo subcarrier at 38 kHz and RDS at 57 kHz.
    const Case cases[] = {{100.0, -0.01, 0.01},      {1'000.0, -0.01, 0.01},
                          {10'000.0, -0.01, 0.01},   {15'000.0, -0.01, 0.01},
                          {19'000.0, -200.0, -65.0}, {30'000.0, -200.0, -65.0},
                          {38'000.0, -200.0, -65.0}, {40'000.0, -200.0, -65.0},
                          {57'000.0, -200.0, -65.0}, {100'000.0, -200.0, -65.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        Decimator decimator(5, kInputRate);
        const double gainDB = toneGainDB(decimator, c.toneHz, kInputRate);
        EXPECT_GT(gainDB, c.minDB);
        EXPECT_LT(gainDB, c.maxDB);
    }
}

TEST(DecimatorTest, HonoursItsFactor) {
    struct Case {
        int factor;
        double inputRate;
    };
    // The receiver's factor, and others whose output still holds the audio band and the
    // transition above it (34 kHz or more).
    const Case cases[] = {{5, 256'000.0}, {4, 192'000.0}, {1, 48'000.0}, {8, 384'000.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.factor);
        Decimator decimator(c.factor, c.inputRate);
        EXPECT_EQ(decimator.outputCount(10'000), std::size_t((10'000 + c.factor - 1) / c.factor));
        EXPECT_NEAR(toneGainDB(decimator, 3'000.0, c.inputRate), 0.0, 0.01);
        Decimator other(c.factor, c.inputRate);
        EXPECT_LT(toneGainDB(other, 20'000.0, c.inputRate), -65.0);
    }
}

TEST(DecimatorTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        randomSignal(13, 50'000), [] { return std::make_unique<Decimator>(5, kInputRate); },
        [](Decimator& d, std::span<const float> b) {
            std::vector<float> o(d.outputCount(b.size()));
            EXPECT_EQ(d.process(b, o), o.size());
            return o;
        });
}

}  // namespace
