#include "dab/DABViterbi.h"

#include <gtest/gtest.h>

#include <random>

#include "DABTestSignal.h"

namespace {

dabtest::Bits randomBits(std::size_t count, std::uint32_t seed) {
    std::mt19937 rng(seed);
    dabtest::Bits bits(count);
    for (auto& b : bits) b = static_cast<std::uint8_t>(rng() & 1U);
    return bits;
}

// Code bit 0 → +255, code bit 1 → −255.
std::vector<int> toSoft(const dabtest::Bits& code) {
    std::vector<int> soft;
    for (std::uint8_t b : code) soft.push_back(b ? -255 : 255);
    return soft;
}

}  // namespace

TEST(DABViterbiTest, CodeWordsFollowTheGeneratorsNewestBitFirst) {
    const DABViterbi viterbi;
    // A lone 1 entering the register (bit 6) meets the top tap of every generator.
    EXPECT_EQ(viterbi.codeWord(0x40), 0xF);
    EXPECT_EQ(viterbi.codeWord(0x00), 0x0);
    // Oldest bit alone: taps 133 → 1, 171 → 1, 145 → 1, 133 → 1 (all generators end in 1).
    EXPECT_EQ(viterbi.codeWord(0x01), 0xF);
    // 0x20 is the second-newest bit: 133 = 1011011 lacks it, 171 = 1111001 and
    // 145 = 1100101 have it.
    EXPECT_EQ(viterbi.codeWord(0x20), 0b0110);
}

TEST(DABViterbiTest, RoundTripsEncodedBlocksWithIntAndFloatInput) {
    const DABViterbi viterbi;
    for (const int length : {768, 3000, 1}) {
        SCOPED_TRACE(length);
        const dabtest::Bits bits = randomBits(static_cast<std::size_t>(length), 11);
        const std::vector<int> soft = toSoft(dabtest::convolutionalEncode(bits));
        EXPECT_EQ(viterbi.deconvolve(soft, length), bits);
        const std::vector<float> softF(soft.begin(), soft.end());
        EXPECT_EQ(viterbi.deconvolve(softF, length), bits);
    }
}

TEST(DABViterbiTest, TooFewSoftValuesGiveNothing) {
    const DABViterbi viterbi;
    const std::vector<int> soft(4 * (768 + 6) - 1, 255);
    EXPECT_TRUE(viterbi.deconvolve(soft, 768).empty());
    const std::vector<float> softF(4 * (768 + 6) - 1, 1.0f);
    EXPECT_TRUE(viterbi.deconvolve(softF, 768).empty());
    EXPECT_EQ(viterbi.deconvolve(std::vector<int>(4 * (768 + 6), 255), 768).size(), 768u);
}

TEST(DABViterbiTest, CorrectsScatteredErrorsAndErasures) {
    const DABViterbi viterbi;
    const dabtest::Bits bits = randomBits(768, 3);
    std::vector<int> soft = toSoft(dabtest::convolutionalEncode(bits));
    // One flipped code bit in every 24 and one erased in every 7: far inside what the rate
    // 1/4 code corrects.
    for (std::size_t n = 5; n < soft.size(); n += 24) soft[n] = -soft[n];
    for (std::size_t n = 2; n < soft.size(); n += 7) soft[n] = 0;
    EXPECT_EQ(viterbi.deconvolve(soft, 768), bits);
}

TEST(DABViterbiTest, LargeSoftValuesDoNotOverflowTheMetrics) {
    const DABViterbi viterbi;
    const dabtest::Bits bits = randomBits(5000, 9);
    std::vector<int> soft;
    for (std::uint8_t b : dabtest::convolutionalEncode(bits)) soft.push_back(b ? -2'000'000'000 : 2'000'000'000);
    EXPECT_EQ(viterbi.deconvolve(soft, 5000), bits);
    std::vector<float> softF;
    for (std::uint8_t b : dabtest::convolutionalEncode(bits)) softF.push_back(b ? -1e6f : 1e6f);
    EXPECT_EQ(viterbi.deconvolve(softF, 5000), bits);
}

TEST(DABViterbiTest, NoisySoftValuesDecodeLikeTheirSigns) {
    // Gaussian noise of σ 0.89 on ±1: Es/N0 = 1/(2σ²) ≈ −2 dB, so Eb/N0 ≈ 4 dB at rate 1/4.
    // About 13 % of the code bits arrive with the wrong sign; the decoded bit error rate of
    // this code at 4 dB is around 1e-5, so a handful of errors in 3000 bits means a fault.
    const DABViterbi viterbi;
    const dabtest::Bits bits = randomBits(3000, 5);
    std::mt19937 rng(17);
    std::normal_distribution<float> noise(0.0f, 0.89f);
    std::vector<float> soft;
    for (std::uint8_t b : dabtest::convolutionalEncode(bits)) soft.push_back((b ? -1.0f : 1.0f) + noise(rng));
    const std::vector<std::uint8_t> decoded = viterbi.deconvolve(soft, 3000);
    ASSERT_EQ(decoded.size(), bits.size());
    int errors = 0, rawErrors = 0;
    for (std::size_t n = 0; n < bits.size(); ++n) errors += decoded[n] != bits[n];
    const dabtest::Bits code = dabtest::convolutionalEncode(bits);
    for (std::size_t n = 0; n < code.size(); ++n) rawErrors += (soft[n] < 0.0f) != (code[n] == 1);
    EXPECT_GT(rawErrors, 1000);
    EXPECT_LT(errors, 3);
}
