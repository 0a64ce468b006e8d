#include <gtest/gtest.h>

#include "dsp/AMDemodulator.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 256'000.0;  // the receiver's channel rate

// Carrier 3 kHz off centre (its phase must not matter), modulated to `depth` by a tone.
std::vector<IQSample> amSignal(double carrier, double depth, double toneHz, std::size_t count) {
    std::vector<IQSample> out = makeTone(3'000.0, kRate, count);
    for (std::size_t n = 0; n < count; ++n) {
        const float env = float(
            carrier * (1.0 + depth * std::sin(2 * std::numbers::pi * toneHz * double(n) / kRate)));
        out[n] = {out[n].i * env, out[n].q * env};
    }
    return out;
}

TEST(AMDemodulatorTest, AudioKeepsItsLevelAndCarrierSettlesAtTarget) {
    struct Case {
        double carrier, depth, toneHz;
    };
    // Unmodulated carriers of any level end at 0.3 (12 time constants of 49 ms); at 50 %
    // modulation the tone is 0.3 × 0.5 at every audio frequency. An average that followed
    // the audio instead of the carrier would lose 10-15 dB at 300 Hz-1 kHz.
    const Case cases[] = {{0.02, 0.0, 0.0},  {1.0, 0.0, 0.0},     {0.4, 0.5, 100.0},
                          {0.4, 0.5, 300.0}, {0.4, 0.5, 1'000.0}, {0.4, 0.5, 3'000.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.carrier << " " << c.toneHz);
        AMDemodulator am(kRate);
        const auto out = am.demodulate(amSignal(c.carrier, c.depth, c.toneHz, 153'600));
        if (c.depth == 0.0) {
            EXPECT_NEAR(am.averageEnvelope(), c.carrier, c.carrier * 1e-3);
            EXPECT_NEAR(out.back(), 0.3f, 1e-4f);
        } else {
            EXPECT_NEAR(toDB(toneAmplitude(lastSamples(out, 51'200), c.toneHz, kRate) / 0.15), 0.0,
                        0.1);
        }
    }
    AMDemodulator silent(kRate);
    for (float v : silent.demodulate(std::vector<IQSample>(100'000))) ASSERT_EQ(v, 0.0f);
}

TEST(AMDemodulatorTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        makeNoise(31, 20'000, 0.3f), [] { return std::make_unique<AMDemodulator>(kRate); },
        [](AMDemodulator& d, std::span<const IQSample> b) {
            std::vector<float> o(b.size());
            d.demodulate(b, o);
            return o;
        });
}

}  // namespace
