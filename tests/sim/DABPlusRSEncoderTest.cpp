#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/DABPlusRSEncoder.h"
#include "sim/SimRandom.h"

namespace {
using Codeword = std::array<std::uint8_t, 120>;

Codeword encodeRandom(const DABPlusRSEncoder& rs, std::uint64_t seed) {
    SimRandom random(seed);
    Codeword c{};
    for (int i = 0; i < 110; ++i)
        c[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(random.nextU32());
    rs.encode(std::span<const std::uint8_t, 110>(c.data(), 110),
              std::span<std::uint8_t, 10>(c.data() + 110, 10));
    return c;
}

// c(α^j) with c_0 the highest-degree coefficient (x^119), by Horner's rule.
std::uint8_t syndrome(const DABPlusRSEncoder& rs, const Codeword& c, int j) {
    std::uint8_t acc = 0;
    for (const std::uint8_t byte : c) acc = rs.multiply(acc, rs.power(j)) ^ byte;
    return acc;
}
}  // namespace

TEST(DABPlusRSEncoderTest, FieldFollowsItsPolynomial) {
    const DABPlusRSEncoder rs;
    // α^8 = α^4 + α^3 + α^2 + 1 = 0x1D; α has order 255.
    EXPECT_EQ(rs.power(8), 0x1D);
    EXPECT_EQ(rs.power(255), 1);
    for (int e = 1; e < 255; ++e) ASSERT_NE(rs.power(e), 1) << e;
    EXPECT_EQ(rs.multiply(0x80, 0x02), 0x1D);
}

TEST(DABPlusRSEncoderTest, CodewordsHaveZeroSyndromesAtAlpha0To9) {
    const DABPlusRSEncoder rs;
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        const Codeword c = encodeRandom(rs, seed);
        for (int j = 0; j < 10; ++j) EXPECT_EQ(syndrome(rs, c, j), 0) << "root α^" << j;
        // Exactly those ten roots: α^10 would belong to a shifted generator.
        EXPECT_NE(syndrome(rs, c, 10), 0);
    }
}

TEST(DABPlusRSEncoderTest, ByteErrorsShowInTheSyndromes) {
    const DABPlusRSEncoder rs;
    Codeword c = encodeRandom(rs, 3);
    for (const std::size_t at : {std::size_t{0}, std::size_t{57}, std::size_t{119}}) {
        SCOPED_TRACE(at);
        Codeword bad = c;
        bad[at] ^= 0x41;
        int nonZero = 0;
        for (int j = 0; j < 10; ++j) nonZero += syndrome(rs, bad, j) != 0;
        EXPECT_EQ(nonZero, 10);  // a single error e·x^p gives e·α^(jp), never zero
    }
}

TEST(DABPlusRSEncoderTest, ZeroMessageHasZeroParityAndTheCodeIsLinear) {
    const DABPlusRSEncoder rs;
    std::array<std::uint8_t, 110> zero{};
    std::array<std::uint8_t, 10> parity{};
    parity.fill(0xAA);
    rs.encode(zero, parity);
    for (const std::uint8_t p : parity) EXPECT_EQ(p, 0);
    const Codeword a = encodeRandom(rs, 5), b = encodeRandom(rs, 6);
    Codeword sum{};
    for (std::size_t i = 0; i < sum.size(); ++i) sum[i] = a[i] ^ b[i];
    std::array<std::uint8_t, 10> sumParity{};
    rs.encode(std::span<const std::uint8_t, 110>(sum.data(), 110), sumParity);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(sumParity[i], sum[110 + i]);
}
