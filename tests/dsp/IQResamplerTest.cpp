#include "dsp/IQResampler.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSignals.h"

namespace {

std::unique_ptr<IQResampler> make(double inputRateHz, double outputRateHz) {
    std::string error;
    auto resampler =
        IQResampler::create({.inputRateHz = inputRateHz, .outputRateHz = outputRateHz}, error);
    EXPECT_NE(resampler, nullptr) << error;
    return resampler;
}

// Feeds `in` in pieces of inSizes[k % n] with room for outSizes[k % n] outputs per call,
// offering again what was not taken, until all input is in; returns everything produced.
std::vector<IQSample> run(IQResampler& resampler, const std::vector<IQSample>& in,
                          const std::vector<std::size_t>& inSizes,
                          const std::vector<std::size_t>& outSizes) {
    std::vector<IQSample> out;
    std::vector<IQSample> room(*std::max_element(outSizes.begin(), outSizes.end()));
    std::size_t pos = 0;
    for (std::size_t k = 0; pos < in.size(); ++k) {
        const std::size_t n = std::min(inSizes[k % inSizes.size()], in.size() - pos);
        // An empty piece comes as a default span, whose null data must not end the stream.
        const std::span<const IQSample> piece =
            n == 0 ? std::span<const IQSample>() : std::span(in).subspan(pos, n);
        const auto p =
            resampler.process(piece, std::span(room).first(outSizes[k % outSizes.size()]));
        pos += p.consumed;
        out.insert(out.end(), room.begin(), room.begin() + static_cast<std::ptrdiff_t>(p.produced));
    }
    return out;
}

}  // namespace

TEST(IQResamplerTest, ToneKeepsItsFrequencyAmplitudeAndTimingOrGoesIfItDoesNotFit) {
    // Kept tones lie inside 91.3 % of the narrower rate's band edge, where the filter is flat.
    struct Case {
        double inputRateHz;
        double outputRateHz;
        double toneHz;
        bool fits;
    };
    const Case cases[] = {
        {2'000'000.0, 2'048'000.0, 100'000.0, true},   // modes1.bin and most tools' captures
        {2'000'000.0, 2'048'000.0, -850'000.0, true},  // near the edge, negative side
        {2'400'000.0, 2'048'000.0, 300'000.0, true},   // 75/64, downwards
        {2'048'000.0, 1'024'000.0, 400'000.0, true},
        {250'000.0, 2'048'000.0, -60'000.0, true},    // 8.192 times up
        {2'048'000.0, 2'048'001.0, 100'000.0, true},  // an awkward ratio
        // Beyond ±512 kHz: kept, it would alias to -324 kHz.
        {2'048'000.0, 1'024'000.0, 700'000.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inputRateHz << " -> " << c.outputRateHz << " @ "
                                        << c.toneHz);
        auto resampler = make(c.inputRateHz, c.outputRateHz);
        ASSERT_NE(resampler, nullptr);
        const auto in = makeTone(c.toneHz, c.inputRateHz,
                                 static_cast<std::size_t>(c.inputRateHz / 20), 0.5f, 0.3);
        const std::vector<IQSample> out = run(*resampler, in, {4'096}, {8'192});
        // Output n lies at input time n / outputRate: the filter delay is hidden. The first and
        // last 10 % see the filter's edges (silence before the start, nothing yet after).
        const std::size_t expected = static_cast<std::size_t>(c.outputRateHz / 20);
        ASSERT_GT(out.size(), expected * 8 / 10);
        const double step = 2.0 * std::numbers::pi * c.toneHz / c.outputRateHz;
        double worst = 0.0;
        for (std::size_t n = expected / 10; n < expected * 8 / 10; ++n) {
            const std::complex<double> ideal =
                c.fits ? std::polar(0.5, 0.3 + step * static_cast<double>(n)) : 0.0;
            worst = std::max(worst, std::abs(std::complex<double>(out[n].i, out[n].q) - ideal));
        }
        // soxr's passband ripple is under 0.01 dB, 5.8e-4 of a 0.5 tone, and its stopband
        // far below that; a one-sample slip would cost at least 0.09.
        EXPECT_LT(worst, 5.8e-4);
    }
}

TEST(IQResamplerTest, OutputDoesNotDependOnChunking) {
    const std::vector<IQSample> in = makeNoise(/*seed=*/3, 40'000, 0.2f);
    const auto whole = [&] {
        auto r = make(2'000'000.0, 2'048'000.0);
        return run(*r, in, {in.size()}, {2 * in.size()});
    }();
    struct Case {
        const char* name;
        std::vector<std::size_t> inSizes;
        std::vector<std::size_t> outSizes;
    };
    const Case cases[] = {
        {"one in, three out", {1}, {3}},
        {"uneven both", {1'000, 7, 4'093, 0, 333}, {5, 2'048, 1, 999}},
        {"output one at a time", {8'192}, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = make(2'000'000.0, 2'048'000.0);
        const std::vector<IQSample> cut = run(*r, in, c.inSizes, c.outSizes);
        const std::size_t common = std::min(cut.size(), whole.size());
        // Small output rooms leave more behind at the end; what both produced is identical.
        ASSERT_GT(common, 39'000u);
        EXPECT_TRUE(std::equal(cut.begin(), cut.begin() + static_cast<std::ptrdiff_t>(common),
                               whole.begin()));
    }
}

TEST(IQResamplerTest, ResetStartsAFreshStream) {
    const std::vector<IQSample> tone = makeTone(100'000.0, 2'000'000.0, 20'000, 0.5f);
    auto fresh = make(2'000'000.0, 2'048'000.0);
    const std::vector<IQSample> expected = run(*fresh, tone, {4'096}, {8'192});

    auto used = make(2'000'000.0, 2'048'000.0);
    run(*used, makeNoise(/*seed=*/5, 30'000, 0.3f), {4'096}, {8'192});
    used->reset();
    EXPECT_EQ(run(*used, tone, {4'096}, {8'192}), expected);
}

TEST(IQResamplerTest, RefusesRatesItCannotUse) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const IQResamplerConfig cases[] = {
        {.inputRateHz = 0.0}, {.inputRateHz = -2e6}, {.outputRateHz = 0.0},
        {.inputRateHz = nan}, {.outputRateHz = inf},
    };
    for (const IQResamplerConfig& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inputRateHz << " -> " << c.outputRateHz);
        std::string error;
        EXPECT_EQ(IQResampler::create(c, error), nullptr);
        EXPECT_NE(error.find("cannot resample"), std::string::npos) << error;
    }
}
