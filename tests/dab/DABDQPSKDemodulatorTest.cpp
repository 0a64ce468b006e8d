#include "dab/DABDQPSKDemodulator.h"

#include <gtest/gtest.h>

#include <complex>
#include <numbers>
#include <random>

#include "dab/DABOFDM.h"

namespace {

struct Symbol {
    std::vector<float> re = std::vector<float>(2048), im = std::vector<float>(2048);
};

// The PRS advanced per logical carrier by the QPSK step of its code bits (0 → positive) and by
// a common turn thetaRad.
Symbol nextSymbol(const DABOFDM::PhaseReference& prs, const DABFrequencyDeinterleaver& d,
                  const std::vector<std::uint8_t>& codeBits, double thetaRad) {
    Symbol s{prs.re, prs.im};
    for (int i = 0; i < 1536; ++i) {
        const int k = d.physicalCarrier(i);
        const auto bin = static_cast<std::size_t>(k > 0 ? k : 2048 + k);
        const std::complex<double> step(1.0 - 2.0 * codeBits[static_cast<std::size_t>(i)],
                                        1.0 - 2.0 * codeBits[static_cast<std::size_t>(i + 1536)]);
        const std::complex<double> v = std::complex<double>(prs.re[bin], prs.im[bin]) * step *
                                       std::polar(1.0 / std::numbers::sqrt2, thetaRad);
        s.re[bin] = static_cast<float>(v.real());
        s.im[bin] = static_cast<float>(v.imag());
    }
    return s;
}

}  // namespace

TEST(DABDQPSKDemodulatorTest, EqualSymbolsGiveOnesThenZeros) {
    const DABOFDM::PhaseReference& prs = DABOFDM::buildPhaseReference();
    const std::vector<std::uint8_t> bits = DABDQPSKDemodulator::demodulate(prs.re, prs.im, prs.re, prs.im);
    ASSERT_EQ(bits.size(), 3072u);
    for (std::size_t n = 0; n < bits.size(); n += 2) {
        EXPECT_EQ(bits[n], 1);
        EXPECT_EQ(bits[n + 1], 0);
    }
    EXPECT_DOUBLE_EQ(DABDQPSKDemodulator::onesPercentage(bits), 50.0);
    EXPECT_DOUBLE_EQ(DABDQPSKDemodulator::onesPercentage({}), 0.0);
    const std::vector<float> shortList(2047);
    EXPECT_TRUE(DABDQPSKDemodulator::demodulate(shortList, prs.im, prs.re, prs.im).empty());
}

TEST(DABDQPSKDemodulatorTest, LogicalOrderRecoversBitsUnderACommonTurn) {
    const DABOFDM::PhaseReference& prs = DABOFDM::buildPhaseReference();
    const DABFrequencyDeinterleaver d;
    std::mt19937 rng(21);
    std::vector<std::uint8_t> code(3072);
    for (auto& b : code) b = static_cast<std::uint8_t>(rng() & 1U);
    for (const double theta : {0.0, 0.6, -2.5}) {
        SCOPED_TRACE(theta);
        const Symbol s = nextSymbol(prs, d, code, theta);
        const auto bits = DABDQPSKDemodulator::demodulateLogical(
            prs.re, prs.im, s.re, s.im, d, static_cast<float>(std::cos(theta)),
            static_cast<float>(std::sin(theta)));
        ASSERT_EQ(bits.size(), 3072u);
        // Hard bit 1 = positive component = code bit 0.
        for (std::size_t n = 0; n < bits.size(); ++n) ASSERT_EQ(bits[n], 1 - code[n]) << n;
    }
    // Natural order, de-interleaved, carries the same pairs.
    const Symbol s = nextSymbol(prs, d, code, 0.0);
    const auto natural = d.deinterleave(DABDQPSKDemodulator::demodulate(prs.re, prs.im, s.re, s.im));
    for (std::size_t i = 0; i < 1536; ++i) {
        ASSERT_EQ(natural[2 * i], 1 - code[i]);
        ASSERT_EQ(natural[2 * i + 1], 1 - code[i + 1536]);
    }
    EXPECT_TRUE(DABDQPSKDemodulator::demodulateLogical(prs.re, prs.im, s.re, s.im,
                                                       DABFrequencyDeinterleaver({.Tu = 0})).empty());
}
