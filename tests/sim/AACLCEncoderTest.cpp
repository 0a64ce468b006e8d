#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "AACTestReader.h"
#include "SimTestMath.h"
#include "sim/AACLCEncoder.h"

namespace {
constexpr int kFrame = 960;

struct Tone {
    double hz = 1'000.0;
    double amplitude = 0.25;
};

std::vector<float> toneFrame(Tone t, int frame, int rateHz) {
    std::vector<float> x(kFrame);
    for (int n = 0; n < kFrame; ++n)
        x[static_cast<std::size_t>(n)] = static_cast<float>(
            t.amplitude * std::sin(2.0 * std::numbers::pi * t.hz * (frame * kFrame + n) / rateHz));
    return x;
}

// Encodes `frames` frames of the tones, reads every AU back with the test reader and rebuilds
// the PCM by IMDCT and overlap-add, per channel (full scale ±1, one frame late).
struct RoundTrip {
    std::vector<std::vector<std::uint8_t>> aus;
    std::vector<simtest::AACFrameRead> reads;
    std::vector<std::vector<double>> pcm;
};

RoundTrip roundTrip(int channels, Tone left, Tone right, std::size_t maxBytes, int frames,
                    int rateHz = 48'000) {
    AACLCEncoder encoder({.sampleRateHz = rateHz, .channels = channels, .frameLength = kFrame});
    const simtest::AACTestReader reader(rateHz);
    RoundTrip out;
    out.pcm.assign(static_cast<std::size_t>(channels),
                   std::vector<double>((static_cast<std::size_t>(frames) + 1) * kFrame));
    for (int f = 0; f < frames; ++f) {
        out.aus.push_back(
            encoder.encode(toneFrame(left, f, rateHz), toneFrame(right, f, rateHz), maxBytes));
        out.reads.push_back(reader.read(out.aus.back()));
        const simtest::AACFrameRead& r = out.reads.back();
        if (!r.ok || static_cast<int>(r.channels.size()) != channels) continue;
        for (int c = 0; c < channels; ++c) {
            const std::vector<double> y = simtest::AACTestReader::windowedIMDCT(
                r.channels[static_cast<std::size_t>(c)].spectrum);
            // Frame f's block spans input frames f-1 and f.
            for (std::size_t n = 0; n < y.size(); ++n)
                if (f * kFrame + static_cast<int>(n) >= kFrame)
                    out.pcm[static_cast<std::size_t>(c)]
                           [static_cast<std::size_t>(f * kFrame) + n - kFrame] += y[n] / 32'768.0;
        }
    }
    return out;
}

double levelOf(std::span<const double> x, double hz, int rateHz) {
    return std::abs(simtest::toneOf(x, hz, rateHz));
}
}  // namespace

TEST(AACLCEncoderTest, AccessUnitsParseToTheEndAndFitTheBudget) {
    struct Case {
        int channels;
        std::size_t maxBytes;
        double amplitude;
    };
    // Budgets of 48 kbit/s mono and 96 kbit/s stereo AUs in a DAB+ super-frame, a tiny one,
    // and a loud tone that needs the escape book.
    const Case cases[] = {{1, 104, 0.25}, {2, 214, 0.25}, {1, 12, 0.25}, {1, 300, 0.95}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxBytes);
        const RoundTrip rt =
            roundTrip(c.channels, {1'000.0, c.amplitude}, {1'500.0, c.amplitude}, c.maxBytes, 6);
        for (std::size_t f = 0; f < rt.aus.size(); ++f) {
            const simtest::AACFrameRead& r = rt.reads[f];
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_LE(rt.aus[f].size(), c.maxBytes);
            EXPECT_EQ(r.elementId, c.channels == 1 ? 0 : 1);
            // END is followed by at most 7 alignment bits, nothing else.
            EXPECT_EQ((r.bitsBeforeAlignment + 7) / 8, rt.aus[f].size());
            for (const simtest::AACChannelRead& ch : r.channels) {
                EXPECT_EQ(ch.windowSequence, 0);  // ONLY_LONG_SEQUENCE
                EXPECT_EQ(ch.windowShape, 0);     // sine
                for (const int sf : ch.scalefactors) EXPECT_LE(sf, 255);
            }
        }
    }
}

TEST(AACLCEncoderTest, SilenceGivesTheSmallestAccessUnit) {
    AACLCEncoder encoder({.channels = 2});
    const std::vector<float> zero(kFrame, 0.0f);
    const std::vector<std::uint8_t> au = encoder.encode(zero, zero, 200);
    EXPECT_EQ(au.size(), encoder.minimumBytes());
    const simtest::AACFrameRead r = simtest::AACTestReader().read(au);
    ASSERT_TRUE(r.ok) << r.error;
    for (const simtest::AACChannelRead& ch : r.channels) EXPECT_EQ(ch.maxBands, 0);
}

TEST(AACLCEncoderTest, DecodedToneHasItsFrequencyAndLevel) {
    struct Case {
        int channels;
        Tone left, right;
        std::size_t maxBytes;
        int rateHz;
    };
    const Case cases[] = {
        {1, {900.0, 0.25}, {900.0, 0.25}, 104, 48'000},      // 48 kbit/s mono share
        {2, {500.0, 0.25}, {750.0, 0.1}, 214, 48'000},       // stereo: different tones and levels
        {1, {1'200.0, 0.25}, {1'200.0, 0.25}, 66, 32'000},   // 32 kHz: the same bands, 30 ms frames
        {1, {3'000.0, 0.95}, {3'000.0, 0.95}, 300, 48'000},  // escape-coded values
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.left.hz);
        const RoundTrip rt = roundTrip(c.channels, c.left, c.right, c.maxBytes, 12, c.rateHz);
        for (int ch = 0; ch < c.channels; ++ch) {
            const Tone want = ch == 0 ? c.left : c.right;
            // Input frames 2..9 have left the overlap; 8 frames hold whole periods of each tone.
            const std::span<const double> x(
                rt.pcm[static_cast<std::size_t>(ch)].data() + 2 * kFrame, 8 * kFrame);
            // Within 0.2 dB: the quantiser's noise at these budgets is 50 dB or more below the
            // tone.
            EXPECT_NEAR(20 * std::log10(levelOf(x, want.hz, c.rateHz) / want.amplitude), 0.0, 0.2);
            if (c.channels == 2) {
                EXPECT_LT(levelOf(x, ch == 0 ? c.right.hz : c.left.hz, c.rateHz), 1e-3);
            }
        }
    }
}

TEST(AACLCEncoderTest, LoudToneUsesTheEscapeBookAndSilentBandsTheZeroBook) {
    const RoundTrip rt = roundTrip(1, {3'000.0, 0.95}, {}, 120, 3);
    const simtest::AACChannelRead& ch = rt.reads[2].channels.at(0);
    bool escape = false, zero = false;
    int largest = 0;
    for (int b = 0; b < ch.maxBands; ++b) {
        escape |= ch.books[static_cast<std::size_t>(b)] == 11;
        zero |= ch.books[static_cast<std::size_t>(b)] == 0;
    }
    for (const int q : ch.quantised) largest = std::max(largest, std::abs(q));
    EXPECT_TRUE(escape);
    EXPECT_TRUE(zero);
    EXPECT_GT(largest, 16) << "values beyond the book's 16 go through the escape";
    EXPECT_LE(largest, 8191);
}

TEST(AACLCEncoderTest, ResetRepeatsTheSameAccessUnits) {
    AACLCEncoder encoder({});
    const auto run = [&] {
        std::vector<std::vector<std::uint8_t>> aus;
        for (int f = 0; f < 3; ++f)
            aus.push_back(encoder.encode(toneFrame({}, f, 48'000), {}, 100));
        return aus;
    };
    const auto first = run();
    encoder.reset();
    EXPECT_EQ(run(), first);
}
