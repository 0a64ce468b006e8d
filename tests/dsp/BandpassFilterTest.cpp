#include <gtest/gtest.h>

#include "dsp/BandpassFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 256'000.0;

TEST(BandpassFilterTest, PilotFilterPassesCentreAndRejectsAudioAndSubcarrier) {
    struct Case {
        double toneHz, minDB, maxDB;
    };
    // Unit gain at 19 kHz; Q 25 puts the -3 dB edges 380 Hz either side; audio and the
    // 38 kHz subcarrier region are far out (second-order skirts: about 6 dB per octave).
    const Case cases[] = {{19'000.0, -0.01, 0.01},
                          {19'380.0, -3.3, -2.7},
                          {18'620.0, -3.3, -2.7},
                          {1'000.0, -200.0, -30.0},
                          {38'000.0, -200.0, -30.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        BandpassFilter bp({.sampleRate = kRate, .centerHz = 19'000.0, .q = 25.0});
        std::vector<float> x = makeRealTone(c.toneHz, kRate, 256'000);
        for (float& v : x) v = bp.process(v);
        const double gainDB =
            toDB(toneAmplitude(std::span<const float>(x).subspan(128'000), c.toneHz, kRate));
        EXPECT_GT(gainDB, c.minDB);
        EXPECT_LT(gainDB, c.maxDB);
    }
}

TEST(BandpassFilterTest, NoPhaseShiftAtCentre) {
    // The pilot loop relies on this: the filtered pilot is in phase with the received one.
    BandpassFilter bp({.sampleRate = kRate, .centerHz = 19'000.0, .q = 25.0});
    const std::vector<float> x = makeRealTone(19'000.0, kRate, 256'000);
    double err = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const float y = bp.process(x[n]);
        if (n >= 128'000) err = std::max(err, static_cast<double>(std::abs(y - x[n])));
    }
    EXPECT_LT(err, 1e-3);
}

}  // namespace
