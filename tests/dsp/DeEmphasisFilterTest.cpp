#include <gtest/gtest.h>

#include "dsp/DeEmphasisFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 51'200.0;
const DeEmphasisFilter::Config k50us{.sampleRate = kRate, .timeConstantMicroseconds = 50.0};

// The analogue de-emphasis 1 / (1 + jωτ), in dB.
double analogueGainDB(double toneHz, double tauMicroseconds) {
    const double x = 2.0 * std::numbers::pi * toneHz * tauMicroseconds * 1e-6;
    return -10.0 * std::log10(1.0 + x * x);
}

TEST(DeEmphasisFilterTest, FollowsTheAnalogueCurveAcrossTheAudioBand) {
    // 50 µs (Europe) and 75 µs (the Americas) at the audio rate, up to 15 kHz where the
    // transmitter's pre-emphasis stops; 0.1 dB leaves room for the tone measurement. A plain
    // one-pole would be 1 dB off near 6 kHz.
    for (double tau : {50.0, 75.0}) {
        for (double toneHz : {100.0, 1'000.0, 3'183.0, 6'000.0, 10'000.0, 12'800.0, 15'000.0}) {
            SCOPED_TRACE(testing::Message() << tau << " us, " << toneHz << " Hz");
            DeEmphasisFilter de({.sampleRate = kRate, .timeConstantMicroseconds = tau});
            const auto y = de.process(makeRealTone(toneHz, kRate, 102'400));
            EXPECT_NEAR(toDB(toneAmplitude(lastSamples(y, 51'200), toneHz, kRate)),
                        analogueGainDB(toneHz, tau), 0.1);
        }
    }
}

TEST(DeEmphasisFilterTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        randomSignal(41, 20'000), [] { return std::make_unique<DeEmphasisFilter>(k50us); },
        [](DeEmphasisFilter& f, std::span<const float> b) { return f.process(b); });
}

}  // namespace
