#include <gtest/gtest.h>

#include <complex>

#include "dsp/ChannelFilter.h"
#include "dsp/DspTestSupport.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;
constexpr ChannelFilterMode kModes[] = {ChannelFilterMode::wideFM, ChannelFilterMode::narrowFM,
                                        ChannelFilterMode::am};
// The receiver's filter: 2,048,000 samples/s in, 256,000 out.
constexpr ChannelFilterConfig kReceiver{.inputRateHz = kRate, .decimation = 8};
// Without decimation, to check the filtering itself sample by sample.
constexpr ChannelFilterConfig kFullRate{.inputRateHz = kRate, .decimation = 1};

// Power gain of the receiver's filter for a complex tone, in dB: a tone through a linear
// filter stays a tone of constant magnitude |H(f)| once the latency and the taps' length have
// passed, also after decimation (where a tone outside ±128 kHz lands on its alias).
double toneGainDB(ChannelFilterMode mode, double toneHz) {
    ChannelFilter filter(mode, kReceiver);
    const std::size_t settle = (filter.latencySamples() + filter.taps().size()) / 8 + 1;
    const std::size_t measured = 4'096;
    const std::vector<IQSample> out =
        filter.process(makeTone(toneHz, kRate, 8 * (settle + measured)));
    EXPECT_EQ(out.size(), settle + measured);
    double power = 0.0;
    for (std::size_t n = settle; n < out.size(); ++n)
        power += double(out[n].i) * out[n].i + double(out[n].q) * out[n].q;
    return 10.0 * std::log10(power / double(measured));
}

std::complex<double> correlate(std::span<const IQSample> x, double freqHz) {
    std::complex<double> acc = 0.0;
    const double w = 2.0 * std::numbers::pi * freqHz / kRate;
    for (std::size_t n = 0; n < x.size(); ++n)
        acc += std::complex<double>(x[n].i, x[n].q) * std::polar(1.0, -w * double(n));
    return acc / double(x.size());
}

TEST(ChannelFilterTest, PassesTheChannelAndRemovesTheNeighbours) {
    struct Case {
        ChannelFilterMode mode;
        std::vector<double> passHz, stopHz;
    };
    // Pass: 0 Hz and 0.8 × the pass edge on both sides, within 0.5 dB. Stop: the next
    // channel (the stop edge) on both sides, one further and the band edge, ≥ 60 dB down.
    // Wide FM also: just past the stop edge, whose alias after decimation lands at ±106 kHz,
    // inside the channel.
    const Case cases[] = {
        {ChannelFilterMode::wideFM,
         {0.0, 88e3, -88e3, 110e3},
         {150e3, -150e3, 200e3, -200e3, 400e3, -1'000e3}},
        {ChannelFilterMode::narrowFM, {0.0, 6e3, -6e3}, {12.5e3, -12.5e3, 25e3, 1'000e3}},
        {ChannelFilterMode::am, {0.0, 4e3, -4e3}, {10e3, -10e3, 20e3, -1'000e3}},
    };
    for (const Case& c : cases) {
        for (double f : c.passHz) {
            SCOPED_TRACE(testing::Message() << int(c.mode) << " passes " << f << " Hz");
            EXPECT_NEAR(toneGainDB(c.mode, f), 0.0, 0.5);
        }
        for (double f : c.stopHz) {
            SCOPED_TRACE(testing::Message() << int(c.mode) << " stops " << f << " Hz");
            EXPECT_LE(toneGainDB(c.mode, f), -60.0);
        }
    }
}

// Between the spot tones above: the taps' response on a grid finer than a quarter of the
// main-lobe width fs / M, over the whole pass band and the whole stop band up to fs / 2.
TEST(ChannelFilterTest, DesignMeetsEdgesEverywhere) {
    for (ChannelFilterMode mode : kModes) {
        SCOPED_TRACE(int(mode));
        const ChannelFilter filter(mode, kReceiver);
        const std::span<const float> taps = filter.taps();
        ASSERT_EQ(taps.size() % 2, 1u);
        // The decimated output grid needs the taps' centre on a multiple of the factor.
        EXPECT_EQ((taps.size() - 1) / 2 % 8, 0u);
        const double step = kRate / (4.0 * double(taps.size()));
        double worstPassDB = 0.0, worstStopDB = -400.0;
        for (double f = 0.0; f <= filter.passbandHz(); f += step)
            worstPassDB = std::max(worstPassDB, std::abs(firGainDB(taps, f, kRate)));
        for (double f = filter.stopbandHz(); f <= kRate / 2; f += step)
            worstStopDB = std::max(worstStopDB, firGainDB(taps, f, kRate));
        EXPECT_LE(worstPassDB, 0.5);
        EXPECT_LE(worstStopDB, -60.0);
    }
}

TEST(ChannelFilterTest, StrongerNeighbourEndsFarBelowTheWantedStation) {
    // Wanted carrier at 0 Hz; a neighbour 20 dB stronger on the next-but-one FM channel.
    ChannelFilter filter(ChannelFilterMode::wideFM, kFullRate);
    const std::size_t settle = filter.latencySamples() + filter.taps().size();
    const std::size_t measured = 8'192;  // 1,200 whole cycles of 300 kHz: no leakage
    std::vector<IQSample> in = makeTone(0.0, kRate, settle + measured, 0.1f);
    const std::vector<IQSample> neighbour = makeTone(300'000.0, kRate, in.size(), 1.0f);
    for (std::size_t n = 0; n < in.size(); ++n) {
        in[n].i += neighbour[n].i;
        in[n].q += neighbour[n].q;
    }
    const std::vector<IQSample> out = filter.process(in);
    const std::span<const IQSample> tail = std::span<const IQSample>(out).subspan(settle);
    const double wanted = std::abs(correlate(tail, 0.0));
    const double leaked = std::abs(correlate(tail, 300'000.0));
    EXPECT_NEAR(wanted, 0.1, 0.1 * 0.06);  // 0.5 dB
    EXPECT_LT(toDB(leaked / wanted), -60.0);
}

// The defining computation: y[j] = sum_k h[k] x[R·j - L + c - k], R the decimation, L the
// latency and c the taps' centre, so that an impulse at n comes out centred on output
// (n + L) / R. With R = 1 every sample is kept.
TEST(ChannelFilterTest, EqualsDirectConvolutionDelayedByTheLatency) {
    for (const ChannelFilterConfig& config : {kFullRate, kReceiver}) {
        for (ChannelFilterMode mode : kModes) {
            SCOPED_TRACE(testing::Message() << int(mode) << " decimation " << config.decimation);
            ChannelFilter filter(mode, config);
            const std::span<const float> taps = filter.taps();
            const auto r = std::ptrdiff_t(config.decimation);
            const std::ptrdiff_t shift =
                std::ptrdiff_t(filter.latencySamples()) - std::ptrdiff_t(taps.size() / 2);
            ASSERT_GE(shift, 0);
            ASSERT_EQ(std::ptrdiff_t(filter.latencySamples()) % r, 0);
            const std::vector<IQSample> x = makeNoise(/*seed=*/5, 20'000, 0.3f);
            const std::vector<IQSample> y = filter.process(x);
            ASSERT_EQ(std::ptrdiff_t(y.size()), (std::ptrdiff_t(x.size()) + r - 1) / r);
            double worst = 0.0;
            for (std::ptrdiff_t j = 0; j < std::ptrdiff_t(y.size()); ++j) {
                std::complex<double> want = 0.0;
                for (std::ptrdiff_t k = 0; k < std::ptrdiff_t(taps.size()); ++k) {
                    const std::ptrdiff_t m = r * j - shift - k;
                    if (m >= 0) want += double(taps[k]) * std::complex<double>(x[m].i, x[m].q);
                }
                worst = std::max(worst, std::abs(want - std::complex<double>(y[j].i, y[j].q)));
            }
            // Single-precision FFT rounding: a few 1e-7 of the 0.3 input level per transform.
            EXPECT_LT(worst, 1e-5);
        }
    }
}

TEST(ChannelFilterTest, OutputDoesNotDependOnBlockCuts) {
    for (ChannelFilterMode mode : kModes) {
        SCOPED_TRACE(int(mode));
        expectChunkingInvariant(
            makeNoise(/*seed=*/2, 30'000),
            [&] { return std::make_unique<ChannelFilter>(mode, kReceiver); },
            [](ChannelFilter& f, std::span<const IQSample> b) { return f.process(b); });
    }
}

TEST(ChannelFilterTest, RandomCutsUpToTheLargestBlockInPlace) {
    const std::vector<IQSample> x = makeNoise(/*seed=*/3, 200'000);
    for (ChannelFilterMode mode : kModes) {
        SCOPED_TRACE(int(mode));
        const std::vector<IQSample> reference = ChannelFilter(mode, kReceiver).process(x);
        ChannelFilter filter(mode, kReceiver);
        std::vector<IQSample> y = x;
        std::vector<IQSample> joined;
        SimRandom rng(11);
        for (std::size_t pos = 0; pos < y.size();) {
            const auto n = std::min(y.size() - pos, std::size_t(rng.uniform() * 65'537.0));
            const std::span<IQSample> block = std::span<IQSample>(y).subspan(pos, n);
            const std::size_t written = filter.process(block, block);
            joined.insert(joined.end(), block.begin(), block.begin() + std::ptrdiff_t(written));
            pos += n;
        }
        EXPECT_EQ(joined, reference);
    }
}

TEST(ChannelFilterTest, ResetReturnsToTheFreshState) {
    // 9,000 samples end inside an FFT frame of every mode, so the fill level matters too.
    const std::vector<IQSample> noise = makeNoise(/*seed=*/4, 9'000);
    const std::vector<IQSample> x = makeTone(3'000.0, kRate, 12'000);
    for (ChannelFilterMode mode : kModes) {
        SCOPED_TRACE(int(mode));
        ChannelFilter used(mode, kReceiver);
        used.process(noise);
        used.reset();
        EXPECT_EQ(used.process(x), ChannelFilter(mode, kReceiver).process(x));
    }
}

TEST(ChannelFilterTest, ModeSwitchRestartsLikeAFreshFilter) {
    // A wide-FM station 100 kHz off plus a 2 kHz carrier. After each switch the output is
    // exactly a fresh filter's of the new mode, fed from the switch on.
    std::vector<IQSample> x = makeTone(100'000.0, kRate, 40'000);
    const std::vector<IQSample> carrier = makeTone(2'000.0, kRate, x.size(), 0.5f);
    for (std::size_t n = 0; n < x.size(); ++n) {
        x[n].i += carrier[n].i;
        x[n].q += carrier[n].q;
    }
    const std::span<const IQSample> before = std::span<const IQSample>(x).first(10'000);
    const std::span<const IQSample> after = std::span<const IQSample>(x).subspan(10'000);
    const ChannelFilterMode sequence[] = {ChannelFilterMode::am, ChannelFilterMode::narrowFM,
                                          ChannelFilterMode::wideFM};
    ChannelFilter filter(ChannelFilterMode::wideFM, kReceiver);
    for (ChannelFilterMode next : sequence) {
        SCOPED_TRACE(int(next));
        filter.process(before);
        filter.setMode(next);
        EXPECT_EQ(filter.mode(), next);
        EXPECT_EQ(filter.process(after), ChannelFilter(next, kReceiver).process(after));
    }

    // Setting the current mode again keeps the stream going untouched.
    ChannelFilter steady(ChannelFilterMode::am, kReceiver);
    std::vector<IQSample> joined = steady.process(before);
    steady.setMode(ChannelFilterMode::am);
    const std::vector<IQSample> rest = steady.process(after);
    joined.insert(joined.end(), rest.begin(), rest.end());
    EXPECT_EQ(joined, ChannelFilter(ChannelFilterMode::am, kReceiver).process(x));
}

}  // namespace
