#include "sim/DABTxChannelCoding.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {
std::string bitString(std::span<const std::uint8_t> bits) {
    std::string s;
    for (std::uint8_t b : bits) s.push_back(static_cast<char>('0' + b));
    return s;
}
}  // namespace

// The PRBS of x^9 + x^5 + 1 from all ones starts 0000 0111 1011 1110 and has period 511.
TEST(DABTxChannelCodingTest, EnergyDispersalSequenceStartsAsPublishedAndRepeatsEvery511Bits) {
    std::vector<std::uint8_t> bits(1022, 0);
    dabTxEnergyDispersal(bits);
    EXPECT_EQ(bitString(std::span(bits).first(16)), "0000011110111110");
    for (std::size_t k = 0; k < 511; ++k) ASSERT_EQ(bits[k], bits[k + 511]) << k;
    EXPECT_EQ(std::accumulate(bits.begin(), bits.begin() + 511, 0), 256);  // m-sequence balance
    // Applying it twice restores the data.
    std::vector<std::uint8_t> data{1, 0, 1, 1, 0, 0, 1};
    auto copy = data;
    dabTxEnergyDispersal(copy);
    dabTxEnergyDispersal(copy);
    EXPECT_EQ(copy, data);
}

// A single 1 shifted through the register reads out the generators 133, 171, 145, 133 (octal)
// column by column, newest tap first.
TEST(DABTxChannelCodingTest, ImpulseResponseIsTheGeneratorPolynomials) {
    const std::vector<std::uint8_t> in{1};
    std::vector<std::uint8_t> out(dabTxCodedLength(in.size()));
    dabTxConvolutionalEncode(in, out);
    ASSERT_EQ(out.size(), 28u);
    const std::string g0 = "1011011", g1 = "1111001", g2 = "1100101";
    for (std::size_t d = 0; d < 7; ++d) {
        SCOPED_TRACE(d);
        EXPECT_EQ(out[4 * d + 0], g0[d] - '0');
        EXPECT_EQ(out[4 * d + 1], g1[d] - '0');
        EXPECT_EQ(out[4 * d + 2], g2[d] - '0');
        EXPECT_EQ(out[4 * d + 3], g0[d] - '0');
    }
}

TEST(DABTxChannelCodingTest, CodeIsLinearAndTailReturnsToZero) {
    std::vector<std::uint8_t> a(100), b(100), ab(100);
    for (std::size_t k = 0; k < a.size(); ++k) {
        a[k] = (k * 7 + 3) % 5 < 2;
        b[k] = (k * 11) % 3 == 0;
        ab[k] = a[k] ^ b[k];
    }
    std::vector<std::uint8_t> ca(dabTxCodedLength(100)), cb(ca.size()), cab(ca.size());
    dabTxConvolutionalEncode(a, ca);
    dabTxConvolutionalEncode(b, cb);
    dabTxConvolutionalEncode(ab, cab);
    for (std::size_t k = 0; k < ca.size(); ++k) ASSERT_EQ(cab[k], ca[k] ^ cb[k]) << k;
    std::vector<std::uint8_t> zeros(50, 0), coded(dabTxCodedLength(50), 1);
    dabTxConvolutionalEncode(zeros, coded);
    EXPECT_EQ(std::accumulate(coded.begin(), coded.end(), 0), 0);
}

TEST(DABTxChannelCodingTest, FICPuncturingKeeps2304Of3096Bits) {
    EXPECT_EQ(dabTxCodedLength(768), 3096u);
    EXPECT_EQ(dabTxPuncturedLength(kDABTxFICRuns), 2304u);
    // Mark each coded bit with its position to see exactly which ones survive.
    std::vector<std::uint8_t> coded(3096);
    for (std::size_t k = 0; k < coded.size(); ++k) coded[k] = static_cast<std::uint8_t>(k % 2);
    std::vector<std::uint8_t> out(3096, 9);
    EXPECT_EQ(dabTxPuncture(coded, kDABTxFICRuns, out), 2304u);
    // PI_16 = 1110 repeated: of each 4 coded bits the first three survive.
    EXPECT_EQ(bitString(std::span(out).first(6)), "010010");
    // The tail keeps 1100: bits 3072, 3073, 3076, 3077, ... (even, odd, even, odd).
    EXPECT_EQ(bitString(std::span(out).subspan(2292, 12)), "010101010101");
    EXPECT_EQ(out[2304], 9) << "nothing written past the punctured length";
}

TEST(DABTxChannelCodingTest, EEPPuncturingOf96kbitAt3AFillsSeventyTwoCU) {
    const DABTxPunctureRun runs[] = {{69, 8}, {3, 7}};
    EXPECT_EQ(dabTxPuncturedLength(runs), 72u * 64u);
    std::vector<std::uint8_t> coded(dabTxCodedLength(2304), 1), out(72 * 64 + 1, 0);
    EXPECT_EQ(dabTxPuncture(coded, runs, out), 72u * 64u);
}

// CRC-16/CCITT with preset 0xFFFF of "123456789" is 0x29B1; sent complemented. Run over a
// message with its complemented CRC appended, the register ends at the fixed residue 0x1D0F.
TEST(DABTxChannelCodingTest, FIBCRCKnownAnswerAndResidue) {
    const std::string text = "123456789";
    const std::vector<std::uint8_t> msg(text.begin(), text.end());
    EXPECT_EQ(dabTxFIBCRC(msg), 0xD64E);
    auto withCRC = msg;
    withCRC.push_back(0xD6);
    withCRC.push_back(0x4E);
    EXPECT_EQ(static_cast<std::uint16_t>(~dabTxFIBCRC(withCRC)), 0x1D0F);
    withCRC[3] ^= 0x10;
    EXPECT_NE(static_cast<std::uint16_t>(~dabTxFIBCRC(withCRC)), 0x1D0F) << "a flipped bit is caught";
}
