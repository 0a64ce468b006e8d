// Checks the AAC-LC encoder against an independent decoder: faad (Debian package faad), run as
// a black box on an ADTS file of 1024-sample frames (ADTS cannot signal the 960-sample frames of
// DAB+; the welle-cli test covers those). Skipped when faad is not installed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "SimPeerTools.h"
#include "SimTestMath.h"
#include "sim/AACLCEncoder.h"

namespace {
namespace fs = std::filesystem;
constexpr int kRateHz = 48'000;
constexpr int kFrame = 1024;
constexpr int kFrames = 94;  // 2 s

// The 7-byte ADTS header without CRC: MPEG-4, AAC LC, 48 kHz, variable rate.
std::vector<std::uint8_t> adtsHeader(std::size_t frameBytes, int channels) {
    const std::size_t length = frameBytes + 7;
    return {0xFF,
            0xF1,
            static_cast<std::uint8_t>((1 << 6) | (3 << 2) | (channels >> 2)),
            static_cast<std::uint8_t>(((channels & 3) << 6) | (length >> 11)),
            static_cast<std::uint8_t>(length >> 3),
            static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F),
            0xFC};
}

struct Case {
    int channels;
    double leftHz, rightHz;
    double leftAmplitude, rightAmplitude;
    std::size_t bytesPerFrame;  // the budget: 300 bytes ≈ 113 kbit/s, 120 bytes ≈ 45 kbit/s
};

// Encodes the tones, decodes them with faad; empty when faad failed.
std::optional<simtest::WavAudio> roundTrip(const fs::path& faad, const Case& c,
                                           const fs::path& dir) {
    AACLCEncoder encoder({.sampleRateHz = kRateHz, .channels = c.channels, .frameLength = kFrame});
    const fs::path aac = dir / "tone.aac", wav = dir / "tone.wav";
    std::ofstream out(aac, std::ios::binary);
    std::vector<float> left(kFrame), right(kFrame);
    for (int f = 0; f < kFrames; ++f) {
        for (int n = 0; n < kFrame; ++n) {
            const double t = static_cast<double>(f * kFrame + n) / kRateHz;
            left[static_cast<std::size_t>(n)] =
                static_cast<float>(c.leftAmplitude * std::sin(2 * std::numbers::pi * c.leftHz * t));
            right[static_cast<std::size_t>(n)] = static_cast<float>(
                c.rightAmplitude * std::sin(2 * std::numbers::pi * c.rightHz * t));
        }
        const std::vector<std::uint8_t> au = encoder.encode(left, right, c.bytesPerFrame);
        EXPECT_LE(au.size(), c.bytesPerFrame);
        const std::vector<std::uint8_t> header = adtsHeader(au.size(), c.channels);
        out.write(reinterpret_cast<const char*>(header.data()),
                  static_cast<std::streamsize>(header.size()));
        out.write(reinterpret_cast<const char*>(au.data()),
                  static_cast<std::streamsize>(au.size()));
    }
    out.close();
    const std::string command = faad.string() + " -q -o '" + wav.string() + "' '" + aac.string() +
                                "' > '" + (dir / "faad.log").string() + "' 2>&1";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return simtest::readWav(wav);
}

double levelOf(std::span<const double> x, double hz) {
    return std::abs(simtest::toneOf(x, hz, kRateHz));
}
}  // namespace

TEST(AACLCEncoderE2ETest, FaadDecodesTonesAtTheirFrequencyAndLevel) {
    const auto faad = simtest::findProgram("faad");
    if (!faad) GTEST_SKIP() << "faad not installed (Debian package faad): no independent AAC check";
    const Case cases[] = {
        {2, 1'000.0, 1'500.0, 0.25, 0.125, 300},  // stereo, different tones and levels per side
        {1, 750.0, 750.0, 0.5, 0.5, 120},         // mono at a DAB+-like budget
        {1, 3'000.0, 3'000.0, 0.9, 0.9, 80},      // loud: the escape book and a tight budget
    };
    const fs::path dir = fs::temp_directory_path() / ("vantirel-aac-" + std::to_string(::getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.leftHz);
        fs::create_directories(dir);
        const auto decoded = roundTrip(*faad, c, dir);
        ASSERT_TRUE(decoded) << "faad failed; see its log in " << dir;
        ASSERT_EQ(decoded->sampleRateHz, kRateHz);
        // faad writes mono as two equal channels (it allows for parametric stereo).
        ASSERT_EQ(decoded->channels, 2);
        ASSERT_GE(decoded->samples[0].size(), static_cast<std::size_t>((kFrames - 2) * kFrame));
        for (int ch = 0; ch < decoded->channels; ++ch) {
            SCOPED_TRACE(ch);
            // Skip the first frames (encoder delay, decoder start-up); 1 s whole periods of both.
            const std::span<const double> x(
                decoded->samples[static_cast<std::size_t>(ch)].data() + 4 * kFrame, kRateHz);
            const bool left = ch == 0 || c.channels == 1;
            const double wantHz = left ? c.leftHz : c.rightHz;
            const double wantLevel = left ? c.leftAmplitude : c.rightAmplitude;
            // Quantisation noise at these budgets stays far below 1 dB of level error.
            EXPECT_NEAR(20 * std::log10(levelOf(x, wantHz) / wantLevel), 0.0, 0.5);
            if (c.channels == 2) {
                EXPECT_LT(levelOf(x, left ? c.rightHz : c.leftHz), 0.01 * wantLevel) << "crosstalk";
            }
            // What is left after taking the tone out: quantisation noise and any artefacts.
            const std::complex<double> tone = simtest::toneOf(x, wantHz, kRateHz);
            double residual = 0.0;
            for (std::size_t n = 0; n < x.size(); ++n) {
                const double w = 2 * std::numbers::pi * wantHz * static_cast<double>(n) / kRateHz;
                residual += std::pow(x[n] - std::abs(tone) * std::cos(w + std::arg(tone)), 2);
            }
            const double snrDB =
                20 * std::log10(wantLevel / std::sqrt(2.0) /
                                std::sqrt(residual / static_cast<double>(x.size())));
            EXPECT_GT(snrDB, 30.0);
            RecordProperty("snr_db_" + std::to_string(static_cast<int>(wantHz)),
                           std::to_string(snrDB));
        }
        fs::remove_all(dir);
    }
}
