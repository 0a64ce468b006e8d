#include "sim/DABTransmitter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "SimTestMath.h"
#include "sim/DABTxTables.h"
#include "sim/DemoScene.h"

using namespace simtest;

namespace {
constexpr int kFrame = 196'608;
constexpr int kNull = 2'656;
constexpr int kSymbol = 2'552;
constexpr int kGuard = 504;

DABTransmitterConfig demoConfig(double amplitude = 0.1) {
    return {.ensemble = demoDABEnsembles()[1].ensemble, .amplitude = amplitude};
}

// Carrier k of OFDM symbol l (1 = phase reference) of a frame starting at frame[0], by the
// test's own FFT over the useful part (after the guard).
std::vector<std::complex<double>> carriers(std::span<const std::complex<float>> frame, int l) {
    std::vector<std::complex<double>> a(2048);
    const std::size_t start = static_cast<std::size_t>(kNull + (l - 1) * kSymbol + kGuard);
    for (std::size_t t = 0; t < 2048; ++t) a[t] = frame[start + t];
    fft(a);  // forward: undoes the transmitter's inverse transform up to a factor
    std::vector<std::complex<double>> byK(1537);
    for (int k = -768; k <= 768; ++k) byK[static_cast<std::size_t>(k + 768)] = a[static_cast<std::size_t>((k + 2048) % 2048)];
    return byK;
}

// The frequency interleaving rule written out again: logical carrier n sits on carrier k.
std::vector<int> interleaving() {
    std::vector<int> table;
    int pi = 0;
    for (int i = 1; table.size() < 1536; ++i) {
        pi = (13 * pi + 511) % 2048;
        if (pi >= 256 && pi <= 1792 && pi != 1024) table.push_back(pi - 1024);
    }
    return table;
}
}  // namespace

TEST(DABTransmitterTest, FrameHasSilentNullAndSymbolsAtTheConfiguredLevel) {
    DABTransmitter tx(demoConfig(0.1));
    std::vector<std::complex<float>> frame(kFrame);
    tx.renderFrame(0, frame);
    double nullEnergy = 0.0, power = 0.0;
    for (int t = 0; t < kNull; ++t) nullEnergy += std::norm(frame[static_cast<std::size_t>(t)]);
    for (int t = kNull; t < kFrame; ++t) power += std::norm(frame[static_cast<std::size_t>(t)]);
    EXPECT_EQ(nullEnergy, 0.0);
    // Every symbol has 1536 unit carriers, so the rms is exact up to float rounding.
    EXPECT_NEAR(std::sqrt(power / (kFrame - kNull)), 0.1, 1e-4);
    EXPECT_EQ(kNull + 76 * kSymbol, kFrame);
}

TEST(DABTransmitterTest, GuardIntervalRepeatsTheEndOfEachSymbol) {
    DABTransmitter tx(demoConfig());
    std::vector<std::complex<float>> frame(kFrame);
    tx.renderFrame(3, frame);
    for (int l = 0; l < 76; ++l) {
        const std::size_t start = static_cast<std::size_t>(kNull + l * kSymbol);
        for (std::size_t t = 0; t < kGuard; ++t)
            ASSERT_EQ(frame[start + t], frame[start + 2048 + t]) << "symbol " << l << " sample " << t;
    }
}

TEST(DABTransmitterTest, PhaseReferenceCarriesTheTabulatedPhasesAndNothingOutsideTheBand) {
    DABTransmitter tx(demoConfig());
    std::vector<std::complex<float>> frame(kFrame);
    tx.renderFrame(0, frame);
    const auto c = carriers(frame, 1);
    const double unit = std::abs(c[0]);
    EXPECT_LT(std::abs(c[768]), 1e-3 * unit) << "centre carrier unused";
    for (int k = -768; k <= 768; ++k) {
        if (k == 0) continue;
        const auto z = c[static_cast<std::size_t>(k + 768)];
        ASSERT_NEAR(std::abs(z), unit, 1e-3 * unit) << k;
        const double expected = std::numbers::pi / 2 * dabTxPRSQuarterTurns(k);
        ASSERT_NEAR(std::abs(std::remainder(std::arg(z) - expected, 2 * std::numbers::pi)), 0.0, 1e-3) << k;
    }
    // Outside ±768 carriers the spectrum is empty.
    std::vector<std::complex<double>> a(2048);
    for (std::size_t t = 0; t < 2048; ++t) a[t] = frame[static_cast<std::size_t>(kNull + 2 * kSymbol + kGuard) + t];
    fft(a);
    for (int bin = 769; bin < 2048 - 768; ++bin) ASSERT_LT(std::abs(a[static_cast<std::size_t>(bin)]), 1e-3 * unit) << bin;
}

// Differential demodulation and de-interleaving of every data symbol gives back the bits the
// transmitter put in: p_n on the real axis, p_{n+1536} on the imaginary one.
TEST(DABTransmitterTest, DifferentialDemodulationRecoversTheFrameBits) {
    DABTransmitter tx(demoConfig());
    std::vector<std::complex<float>> frame(kFrame);
    tx.renderFrame(7, frame);
    const std::vector<std::uint8_t> sent(tx.lastFrameBits().begin(), tx.lastFrameBits().end());
    ASSERT_EQ(sent.size(), 75u * 3072u);
    const auto map = interleaving();
    auto previous = carriers(frame, 1);
    std::size_t errors = 0;
    for (int l = 2; l <= 76; ++l) {
        const auto current = carriers(frame, l);
        for (std::size_t n = 0; n < 1536; ++n) {
            const std::size_t k = static_cast<std::size_t>(map[n] + 768);
            const std::complex<double> d = current[k] * std::conj(previous[k]);
            const std::size_t base = static_cast<std::size_t>(l - 2) * 3072;
            errors += (d.real() < 0) != (sent[base + n] == 1);
            errors += (d.imag() < 0) != (sent[base + n + 1536] == 1);
        }
        previous = current;
    }
    EXPECT_EQ(errors, 0u);
}

TEST(DABTransmitterTest, CIFCountAdvancesFourPerFrameAndWrapsAt5000) {
    EXPECT_EQ(DABTransmitter::cifCountOf(0), 0);
    EXPECT_EQ(DABTransmitter::cifCountOf(1), 4);
    EXPECT_EQ(DABTransmitter::cifCountOf(1249), 4996);
    EXPECT_EQ(DABTransmitter::cifCountOf(1250), 0);
    EXPECT_EQ(DABTransmitter::cifCountOf(-1), 4996);
}

TEST(DABTransmitterTest, SubchannelSourceDataReachesItsCapacityUnits) {
    DABTransmitter quiet(demoConfig()), busy(demoConfig());
    const std::size_t bits = busy.msc().logicalFrameBits(3);
    EXPECT_EQ(bits, 192u * 6u) << "48 kbit/s";
    ASSERT_TRUE(busy.msc().setSubchannelSource(3, [](std::span<std::uint8_t> data) {
        for (std::size_t k = 0; k < data.size(); k += 3) data[k] = 1;
    }));
    EXPECT_FALSE(busy.msc().setSubchannelSource(42, {}));
    std::vector<std::complex<float>> frame(kFrame);
    quiet.renderFrame(0, frame);
    busy.renderFrame(0, frame);
    const auto a = quiet.lastFrameBits(), b = busy.lastFrameBits();
    // Sub-channel 3 is CU 120..155 of each CIF; the time interleaver lets the undelayed 1/16 of
    // the bits through in the first CIF already.
    std::size_t inside = 0, outside = 0;
    for (int cif = 0; cif < 4; ++cif)
        for (std::size_t i = 0; i < 55'296; ++i) {
            const std::size_t at = 9'216 + static_cast<std::size_t>(cif) * 55'296 + i;
            const bool differs = a[at] != b[at];
            (i >= 120 * 64 && i < 156 * 64 ? inside : outside) += differs;
        }
    EXPECT_EQ(outside, 0u);
    EXPECT_GT(inside, 100u);
}
