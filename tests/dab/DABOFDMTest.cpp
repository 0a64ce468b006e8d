#include "dab/DABOFDM.h"

#include <gtest/gtest.h>

#include <array>
#include <numbers>

#include "support/TestSignals.h"

namespace {

// Quarter turns of a unit phasor with exact components.
int quarterTurns(float re, float im) {
    if (re > 0.5f) return 0;
    if (im > 0.5f) return 1;
    if (re < -0.5f) return 2;
    return 3;
}

std::uint32_t crc32(const std::string& text) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : text) {
        crc ^= static_cast<unsigned char>(ch);
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

TEST(DABOFDMTest, PhaseReferenceMatchesTheTableChecks) {
    // Check values from the data tables' README (q counts, first digits and CRC-32).
    const DABOFDM::PhaseReference& prs = DABOFDM::buildPhaseReference();
    ASSERT_EQ(prs.re.size(), 2048u);
    ASSERT_EQ(prs.im.size(), 2048u);
    std::array<int, 4> counts{};
    std::string digits;
    for (int k = -768; k <= 768; ++k) {
        if (k == 0) continue;
        const auto bin = static_cast<std::size_t>(k > 0 ? k : 2048 + k);
        ASSERT_NEAR(prs.re[bin] * prs.re[bin] + prs.im[bin] * prs.im[bin], 1.0f, 1e-6f) << k;
        const int q = quarterTurns(prs.re[bin], prs.im[bin]);
        ++counts[static_cast<std::size_t>(q)];
        digits += static_cast<char>('0' + q);
    }
    EXPECT_EQ(counts, (std::array<int, 4>{364, 404, 356, 412}));
    EXPECT_EQ(digits.substr(0, 16), "1311112231113322");
    EXPECT_EQ(digits.substr(768, 16), "3133330013331100");
    EXPECT_EQ(crc32(digits), 0x7b18b509u);
    for (int bin = 769; bin <= 1279; ++bin) EXPECT_EQ(prs.re[static_cast<std::size_t>(bin)], 0.0f);
    EXPECT_EQ(prs.re[0], 0.0f);
    EXPECT_EQ(prs.im[0], 0.0f);
}

TEST(DABOFDMTest, PhaseReferenceCorrelatesOnlyAtTheRightShift) {
    const DABOFDM::PhaseReference& prs = DABOFDM::buildPhaseReference();
    const auto self = DABOFDM::correlatePhaseRef(prs.re, prs.im, 0);
    EXPECT_NEAR(self.correlation, 1.0f, 1e-5f);
    EXPECT_TRUE(self.detected);
    const auto off = DABOFDM::correlatePhaseRef(prs.re, prs.im, 2);
    EXPECT_LT(off.correlation, 0.1f);
    EXPECT_FALSE(off.detected);
    EXPECT_EQ(off.binShift, 2);

    // The same PRS received 37 bins up or 41 bins down is found at exactly that shift.
    for (const int shift : {37, -41}) {
        SCOPED_TRACE(shift);
        std::vector<float> re(2048), im(2048);
        for (int b = 0; b < 2048; ++b) {
            const auto to = static_cast<std::size_t>(((b + shift) % 2048 + 2048) % 2048);
            re[to] = prs.re[static_cast<std::size_t>(b)];
            im[to] = prs.im[static_cast<std::size_t>(b)];
        }
        EXPECT_NEAR(DABOFDM::correlatePhaseRef(re, im, shift).correlation, 1.0f, 1e-5f);
        EXPECT_LT(DABOFDM::correlatePhaseRef(re, im, 0).correlation, 0.1f);
    }
    const std::vector<float> shortList(2047, 1.0f);
    EXPECT_EQ(DABOFDM::correlatePhaseRef(shortList, prs.im, 0).correlation, 0.0f);
}

TEST(DABOFDMTest, SymbolFFTNeedsTheWholeSymbol) {
    const DABOFDM ofdm;
    ASSERT_TRUE(ofdm.hasFFT());
    const std::vector<IQSample> block = makeNoise(1, 3'000);
    EXPECT_TRUE(ofdm.fftSymbol(block, 3'000 - 2'552).has_value());
    EXPECT_FALSE(ofdm.fftSymbol(block, 3'000 - 2'551).has_value());
    EXPECT_FALSE(ofdm.fftSymbol(block, -1).has_value());
    std::vector<float> re(2048), im(2048);
    EXPECT_FALSE(ofdm.fftSymbolInto(std::span(block).first(2'551), 0, re, im));
}

TEST(DABOFDMTest, CarrierTonesLandInTheirBins) {
    const DABOFDM ofdm;
    struct Case {
        double toneHz;
        double cfoHz;
        std::size_t bin;
    };
    // 1 kHz per bin; negative frequencies from bin 2047 down; cfoHz derotates first.
    const Case cases[] = {{3'000.0, 0.0, 3}, {-5'000.0, 0.0, 2043}, {3'000.0, 3'000.0, 0},
                          {-2'000.0, 1'000.0, 2045}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        const std::vector<IQSample> tone = makeTone(c.toneHz, 2'048'000.0, 10'000);
        const auto spectrum = ofdm.fftSymbol(tone, 1'234, c.cfoHz);
        ASSERT_TRUE(spectrum.has_value());
        EXPECT_NEAR(spectrum->mag[c.bin], 2048.0f, 0.5f);
        float others = 0.0f;
        for (std::size_t b = 0; b < 2048; ++b) {
            if (b != c.bin) others = std::max(others, spectrum->mag[b]);
        }
        EXPECT_LT(others, 0.5f);
    }
}

TEST(DABOFDMTest, NCOLeavesHalfAHertzAloneAndRotatesAbove) {
    const std::vector<IQSample> block(100'001, IQSample{1.0f, 0.0f});
    EXPECT_EQ(DABOFDM::applyNCO(block, 0.5, 2'048'000.0), block);
    EXPECT_EQ(DABOFDM::applyNCO(block, -0.5, 2'048'000.0), block);
    const std::vector<IQSample> out = DABOFDM::applyNCO(block, 0.6, 2'048'000.0);
    const double phase = -2.0 * std::numbers::pi * 0.6 * 100'000 / 2'048'000.0;
    EXPECT_NEAR(out.back().i, std::cos(phase), 1e-6);
    EXPECT_NEAR(out.back().q, std::sin(phase), 1e-6);
    EXPECT_EQ(out.front(), (IQSample{1.0f, 0.0f}));
    EXPECT_TRUE(DABOFDM::applyNCO({}, 100.0, 2'048'000.0).empty());
}
