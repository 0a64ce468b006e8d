#include <gtest/gtest.h>

#include "dsp/DspTestSupport.h"
#include "dsp/FIRTaps.h"
#include "dsp/StreamingFIRDecimator.h"

namespace {

// The defining computation, written out: extend by M - 1 zeros, slide the taps (not
// reversed) over the whole stream, keep every factor-th full-rate output from index 0.
std::vector<float> naiveDecimate(const std::vector<float>& x, const std::vector<float>& taps,
                                 int factor) {
    const std::size_t m = taps.size();
    std::vector<double> e(m - 1, 0.0);
    e.insert(e.end(), x.begin(), x.end());
    std::vector<float> out;
    for (std::size_t k = 0; k < x.size(); k += static_cast<std::size_t>(factor)) {
        double acc = 0.0;
        for (std::size_t j = 0; j < m; ++j) acc += e[k + j] * taps[j];
        out.push_back(static_cast<float>(acc));
    }
    return out;
}

TEST(StreamingFIRDecimatorTest, EqualsSlidingDotProduct) {
    struct Case {
        std::vector<float> taps;
        int factor;
    };
    // The system's stages, plus asymmetric taps (catch a reversed kernel) of lengths that
    // exercise the 8-lane kernel's tail, and a one-tap filter.
    const Case cases[] = {
        {FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 100'000.0, .numTaps = 129}), 8},
        {FIRTaps::lowpass({.sampleRate = 256'000.0, .cutoffHz = 15'000.0, .numTaps = 129}), 5},
        {randomSignal(7, 13), 3},
        {randomSignal(8, 16), 1},
        {{0.5f}, 2},
    };
    const std::vector<float> x = randomSignal(1, 20'000);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.taps.size() << " taps, factor " << c.factor);
        StreamingFIRDecimator fir(c.taps, c.factor);
        const std::vector<float> got = fir.process(x);
        const std::vector<float> want = naiveDecimate(x, c.taps, c.factor);
        ASSERT_EQ(got.size(), want.size());
        // float accumulation in a different order than the double reference
        for (std::size_t n = 0; n < got.size(); ++n) ASSERT_NEAR(got[n], want[n], 2e-6f) << n;
    }
}

TEST(StreamingFIRDecimatorTest, OutputDoesNotDependOnBlockCuts) {
    const auto taps =
        FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 100'000.0, .numTaps = 129});
    const std::vector<float> x = randomSignal(2, 40'000);
    for (int factor : {8, 5, 1}) {
        SCOPED_TRACE(factor);
        StreamingFIRDecimator whole(taps, factor);
        const std::vector<float> reference = whole.process(x);
        for (const auto& pattern : cutPatterns()) {
            StreamingFIRDecimator fir(taps, factor);
            const auto out = processInCuts<float, float>(
                std::span<const float>(x), pattern, [&](std::span<const float> b) {
                    // the span form, writing exactly outputCount() values
                    std::vector<float> o(fir.outputCount(b.size()));
                    EXPECT_EQ(fir.process(b, o), o.size());
                    return o;
                });
            EXPECT_EQ(out, reference);
        }
    }
}

TEST(StreamingFIRDecimatorTest, PhaseCarriesAcrossBlocks) {
    struct Step {
        std::size_t blockLength, expectedOutputs;
        int expectedPhase;
    };
    // Factor 8: 8,192 samples keep indices 0, 8, …, 8184; 100 samples keep 0 … 96 and the
    // next kept index is 104, i.e. 4 into the next block; a block of 3 keeps nothing.
    const Step steps[] = {{8192, 1024, 0}, {100, 13, 4}, {3, 0, 1},
                          {0, 0, 1},       {1, 0, 0},    {1, 1, 7}};
    StreamingFIRDecimator fir(std::vector<float>(129, 1.0f / 129.0f), 8);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.blockLength);
        EXPECT_EQ(fir.outputCount(s.blockLength), s.expectedOutputs);
        EXPECT_EQ(fir.process(std::vector<float>(s.blockLength, 1.0f)).size(), s.expectedOutputs);
        EXPECT_EQ(fir.pendingPhase(), s.expectedPhase);
    }
}

TEST(StreamingFIRDecimatorTest, NonPositiveFactorActsAsOne) {
    const std::vector<float> x = randomSignal(3, 50);
    for (int factor : {0, -3}) {
        SCOPED_TRACE(factor);
        StreamingFIRDecimator fir({0.25f, 0.5f, 0.25f}, factor);
        StreamingFIRDecimator one({0.25f, 0.5f, 0.25f}, 1);
        EXPECT_EQ(fir.decimationFactor(), 1);
        EXPECT_EQ(fir.process(x), one.process(x));
    }
}

TEST(StreamingFIRDecimatorTest, EmptyBlockAndResetLeaveNoTrace) {
    const std::vector<float> a = randomSignal(4, 333), b = randomSignal(5, 777);
    StreamingFIRDecimator reference({0.1f, 0.2f, 0.3f, 0.4f}, 3);
    const std::vector<float> ra = reference.process(a), rb = reference.process(b);

    StreamingFIRDecimator fir({0.1f, 0.2f, 0.3f, 0.4f}, 3);
    fir.process(randomSignal(6, 101));
    fir.reset();
    EXPECT_EQ(fir.process(a), ra);
    EXPECT_TRUE(fir.process(std::vector<float>{}).empty());
    EXPECT_EQ(fir.process(b), rb);
}

TEST(StreamingFIRDecimatorTest, NoTapsOutputsZeros) {
    StreamingFIRDecimator fir({}, 2);
    EXPECT_EQ(fir.process(randomSignal(9, 5)), std::vector<float>(3, 0.0f));
}

}  // namespace
