#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"
#include "dsp/StreamingFIRDecimator.h"

namespace {

const std::vector<float> kStage1Taps =
    FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 100'000.0, .numTaps = 129});

// The defining computation: extend by M - 1 zeros, slide the taps (not reversed) over the
// stream, keep every factor-th output from index 0.
std::vector<float> naiveDecimate(const std::vector<float>& x, const std::vector<float>& taps,
                                 int factor) {
    std::vector<double> e(taps.size() - 1, 0.0);
    e.insert(e.end(), x.begin(), x.end());
    std::vector<float> out;
    for (std::size_t k = 0; k < x.size(); k += std::size_t(factor)) {
        double acc = 0.0;
        for (std::size_t j = 0; j < taps.size(); ++j) acc += e[k + j] * taps[j];
        out.push_back(float(acc));
    }
    return out;
}

TEST(StreamingFIRDecimatorTest, EqualsSlidingDotProduct) {
    struct Case {
        std::vector<float> taps;
        int factor;
    };
    // A system stage; asymmetric taps (a reversed kernel would fail) with lengths that hit
    // the 8-lane kernel's tail; one tap; factors 0 and -3 acting as 1.
    const Case cases[] = {{kStage1Taps, 8}, {randomSignal(7, 13), 3}, {randomSignal(8, 16), 1},
                          {{0.5f}, 2},      {{0.25f, 0.5f, 0.3f}, 0}, {{0.25f, 0.5f, 0.3f}, -3}};
    const std::vector<float> x = randomSignal(1, 20'000);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.taps.size() << " taps, factor " << c.factor);
        StreamingFIRDecimator fir(c.taps, c.factor);
        const std::vector<float> got = fir.process(x);
        const std::vector<float> want = naiveDecimate(x, c.taps, std::max(c.factor, 1));
        ASSERT_EQ(got.size(), want.size());
        // float accumulation in another order than the double reference
        for (std::size_t n = 0; n < got.size(); ++n) ASSERT_NEAR(got[n], want[n], 2e-6f) << n;
    }
}

TEST(StreamingFIRDecimatorTest, OutputDoesNotDependOnBlockCuts) {
    for (int factor : {8, 5}) {
        SCOPED_TRACE(factor);
        expectChunkingInvariant(
            randomSignal(2, 40'000),
            [&] { return std::make_unique<StreamingFIRDecimator>(kStage1Taps, factor); },
            [](StreamingFIRDecimator& fir, std::span<const float> b) {
                std::vector<float> o(
                    fir.outputCount(b.size()));  // the span form writes exactly this many
                EXPECT_EQ(fir.process(b, o), o.size());
                return o;
            });
    }
}

TEST(StreamingFIRDecimatorTest, PhaseCarriesAcrossBlocks) {
    struct Step {
        std::size_t blockLength, expectedOutputs;
        int expectedPhase;
    };
    // Factor 8: 8,192 samples keep 0, 8, …, 8184; 100 keep 0 … 96 and the next kept index
    // is 104, 4 into the next block; a block shorter than the phase keeps nothing; an empty
    // block changes nothing.
    const Step steps[] = {{8192, 1024, 0}, {100, 13, 4}, {3, 0, 1},
                          {0, 0, 1},       {1, 0, 0},    {1, 1, 7}};
    StreamingFIRDecimator fir(kStage1Taps, 8);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.blockLength);
        EXPECT_EQ(fir.process(std::vector<float>(s.blockLength, 1.0f)).size(), s.expectedOutputs);
        EXPECT_EQ(fir.pendingPhase(), s.expectedPhase);
    }
    fir.reset();
    const std::vector<float> x = randomSignal(3, 500);
    StreamingFIRDecimator fresh(kStage1Taps, 8);
    EXPECT_EQ(fir.process(x), fresh.process(x));
}

}  // namespace
