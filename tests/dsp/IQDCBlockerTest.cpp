#include <gtest/gtest.h>

#include <complex>

#include "dsp/DspTestSupport.h"
#include "dsp/IQDCBlocker.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;

TEST(IQDCBlockerTest, RemovesTheOffsetAndKeepsTheSignal) {
    // A dongle's LO leak of (0.05, -0.03) under a station 40 kHz off. After 1 s (20 time
    // constants of 49 ms) the offset is gone to 1e-5 and the station is untouched.
    std::vector<IQSample> x = makeTone(40'000.0, kRate, 2'048'000, 0.2f);
    for (IQSample& s : x) s = {s.i + 0.05f, s.q - 0.03f};
    IQDCBlocker blocker;
    std::vector<IQSample> y(x.size());
    blocker.process(x, y);
    std::complex<double> mean = 0.0, tone = 0.0;
    const std::size_t from = y.size() - 20'480;  // 400 whole cycles of 40 kHz
    for (std::size_t n = from; n < y.size(); ++n) {
        const std::complex<double> v(y[n].i, y[n].q);
        mean += v;
        tone += v * std::polar(1.0, -2.0 * std::numbers::pi * 40'000.0 * double(n) / kRate);
    }
    EXPECT_LT(std::abs(mean) / 20'480.0, 1e-5);
    EXPECT_NEAR(std::abs(tone) / 20'480.0, 0.2, 0.2 * 1e-3);
}

TEST(IQDCBlockerTest, OutputDoesNotDependOnBlockCuts) {
    expectChunkingInvariant(
        makeNoise(/*seed=*/8, 20'000), [] { return std::make_unique<IQDCBlocker>(); },
        [](IQDCBlocker& b, std::span<const IQSample> in) {
            std::vector<IQSample> out(in.size());
            b.process(in, out);
            return out;
        });
}

}  // namespace
