#include <gtest/gtest.h>

#include "dsp/BandpassFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

TEST(BandpassFilterTest, PilotFilterPassesCentreOnly) {
    struct Case {
        double toneHz, minDB, maxDB;
    };
    // Unit gain at 19 kHz; Q 25 puts the -3 dB edges 380 Hz either side; audio and the
    // 38 kHz subcarrier are far down the skirts.
    const Case cases[] = {{19'000.0, -0.01, 0.01},
                          {19'380.0, -3.3, -2.7},
                          {18'620.0, -3.3, -2.7},
                          {1'000.0, -200.0, -30.0},
                          {38'000.0, -200.0, -30.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        BandpassFilter bp({.sampleRate = 256'000.0, .centerHz = 19'000.0, .q = 25.0});
        std::vector<float> x = makeRealTone(c.toneHz, 256'000.0, 256'000);
        for (float& v : x) v = bp.process(v);
        const double gainDB = toDB(toneAmplitude(lastSamples(x, 128'000), c.toneHz, 256'000.0));
        EXPECT_GT(gainDB, c.minDB);
        EXPECT_LT(gainDB, c.maxDB);
    }
}

}  // namespace
