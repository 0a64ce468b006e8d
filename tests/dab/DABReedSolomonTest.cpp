#include "dab/DABReedSolomon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "DABMSCTestEncoder.h"
#include "dab/DABReedSolomonFrame.h"

namespace {

std::array<std::uint8_t, 110> dataOf(std::uint32_t seed) {
    const auto bytes = dabtest::randomBytes(110, seed);
    std::array<std::uint8_t, 110> data{};
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return data;
}

// `count` distinct positions hit by non-zero error values.
std::array<std::uint8_t, 120> corrupt(std::array<std::uint8_t, 120> word, int count, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::size_t> positions(120);
    for (std::size_t n = 0; n < 120; ++n) positions[n] = n;
    std::shuffle(positions.begin(), positions.end(), rng);
    for (int k = 0; k < count; ++k) word[positions[static_cast<std::size_t>(k)]] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    return word;
}

}  // namespace

TEST(DABReedSolomonTest, EncoderMatchesAnIndependentOneAndHasRootsAlpha0To9) {
    for (std::uint32_t seed = 1; seed <= 5; ++seed) {
        const auto data = dataOf(seed);
        const auto word = DABReedSolomon::encodeCodeword(data);
        EXPECT_EQ(word, dabtest::rsEncode(data));
        for (int j = 0; j < 10; ++j) EXPECT_EQ(dabtest::evaluateWord(word, dabtest::gfPow2(j)), 0) << j;
        // α^10 is no root: the code is not the one with roots α^1 … α^10.
        EXPECT_NE(dabtest::evaluateWord(word, dabtest::gfPow2(10)), 0);
    }
}

TEST(DABReedSolomonTest, CorrectsUpToFiveErrorsAnywhereInTheWord) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const auto data = dataOf(seed);
        const auto word = dabtest::rsEncode(data);
        for (int errors = 0; errors <= 5; ++errors) {
            const auto decoded = DABReedSolomon::decodeCodeword(corrupt(word, errors, seed * 7 + errors));
            ASSERT_TRUE(decoded) << "seed " << seed << " errors " << errors;
            ASSERT_EQ(*decoded, data) << "seed " << seed << " errors " << errors;
        }
    }
}

TEST(DABReedSolomonTest, SixErrorsAreNotCorrected) {
    int refused = 0;
    for (std::uint32_t seed = 1; seed <= 100; ++seed) {
        const auto data = dataOf(seed);
        const auto decoded = DABReedSolomon::decodeCodeword(corrupt(dabtest::rsEncode(data), 6, seed));
        // Beyond five errors a decoder may only fail or land on another codeword, never the sent one.
        if (decoded) {
            EXPECT_NE(*decoded, data);
        } else {
            ++refused;
        }
    }
    EXPECT_GE(refused, 95);
}

TEST(DABReedSolomonTest, AnErrorLocatedInTheShortenedZerosIsRejected) {
    // Received = codeword + (e·x^p mod g) with p ≥ 120: its syndromes are those of one error
    // at position p, among the 135 symbols the transmitter never sends.
    const auto word = dabtest::rsEncode(dataOf(3));
    for (const int power : {120, 180, 254}) {
        std::vector<std::uint8_t> error(static_cast<std::size_t>(power) + 1, 0);
        error[0] = 0x5A;  // highest power first
        // Reduce modulo g by subtracting multiples of the generator: the remainder is the
        // error minus a full-length codeword, which rsEncode's parity of zeros supplies.
        std::vector<std::uint8_t> g = {1};
        for (int j = 0; j < 10; ++j) {
            std::vector<std::uint8_t> next(g.size() + 1, 0);
            for (std::size_t k = 0; k < g.size(); ++k) {
                next[k] ^= g[k];
                next[k + 1] ^= dabtest::gfMul(g[k], dabtest::gfPow2(j));
            }
            g = next;
        }
        for (std::size_t n = 0; n + 10 < error.size(); ++n) {
            const std::uint8_t coef = error[n];
            if (coef == 0) continue;
            for (std::size_t k = 0; k < g.size(); ++k) error[n + k] ^= dabtest::gfMul(g[k], coef);
        }
        auto received = word;
        for (std::size_t k = 0; k < 10; ++k) received[110 + k] ^= error[error.size() - 10 + k];
        for (int j = 0; j < 10; ++j) {
            ASSERT_EQ(dabtest::evaluateWord(received, dabtest::gfPow2(j)),
                      dabtest::gfMul(0x5A, dabtest::gfPow2(power * j % 255)));
        }
        EXPECT_FALSE(DABReedSolomon::decodeCodeword(received)) << power;
    }
}

TEST(DABReedSolomonTest, RefusesWordsOfTheWrongLength) {
    EXPECT_FALSE(DABReedSolomon::decodeCodeword(std::vector<std::uint8_t>(119, 0)));
    EXPECT_FALSE(DABReedSolomon::decodeCodeword(std::vector<std::uint8_t>(121, 0)));
    EXPECT_TRUE(DABReedSolomon::decodeCodeword(std::vector<std::uint8_t>(120, 0)));
}

TEST(DABReedSolomonFrameTest, DeinterleavesCorrectsAndCountsCodewords) {
    for (const std::size_t s : {std::size_t{12}, std::size_t{3}, std::size_t{1}}) {
        SCOPED_TRACE(s);
        const auto data = dabtest::randomBytes(110 * s, static_cast<std::uint32_t>(s));
        auto sent = dabtest::rsEncodeSuperframe(data);
        ASSERT_EQ(DABReedSolomonFrame::encode(data), sent);
        // Five errors in every codeword: consecutive bytes belong to different codewords.
        for (std::size_t k = 0; k < s; ++k) {
            for (std::size_t e = 0; e < 5; ++e) sent[(10 * e + 3) * s + k] ^= 0xA5;
        }
        const auto result = DABReedSolomonFrame::decode(sent);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->data, data);
        EXPECT_EQ(result->goodWords, static_cast<int>(s));
        EXPECT_EQ(result->totalWords, static_cast<int>(s));
    }
}

TEST(DABReedSolomonFrameTest, AnUncorrectableCodewordKeepsItsReceivedBytes) {
    const auto data = dabtest::randomBytes(110 * 12, 5);
    auto sent = dabtest::rsEncodeSuperframe(data);
    for (std::size_t e = 0; e < 8; ++e) sent[(e * 9) * 12 + 4] ^= 0x3C;  // codeword 4
    const auto result = DABReedSolomonFrame::decode(sent);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->goodWords, 11);
    for (std::size_t j = 0; j < 110; ++j) {
        for (std::size_t k = 0; k < 12; ++k) {
            ASSERT_EQ(result->data[j * 12 + k], sent[j * 12 + k]) << j << " " << k;
        }
    }
    EXPECT_FALSE(DABReedSolomonFrame::decode({}));
    EXPECT_FALSE(DABReedSolomonFrame::decode(std::vector<std::uint8_t>(1439, 0)));
}
