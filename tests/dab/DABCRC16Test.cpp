#include "dab/DABCRC16.h"

#include <gtest/gtest.h>

#include <vector>

#include "DABTestSignal.h"

namespace {

std::vector<std::uint8_t> withTrailer(std::vector<std::uint8_t> data) {
    const auto crc = static_cast<std::uint16_t>(~DABCRC16::compute(data));
    data.push_back(static_cast<std::uint8_t>(crc >> 8));
    data.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return data;
}

}  // namespace

TEST(DABCRC16Test, MatchesTheCCITTCheckValueAndTheBitwiseForm) {
    // CRC-16/CCITT-FALSE check value of "123456789" (preset 0xFFFF, no reflection).
    const std::string check = "123456789";
    EXPECT_EQ(DABCRC16::compute({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0x29B1);
    std::vector<std::uint8_t> data;
    for (int n = 0; n < 300; ++n) data.push_back(static_cast<std::uint8_t>(n * 37 + 11));
    EXPECT_EQ(DABCRC16::compute(data), dabtest::crc16(data));
    EXPECT_EQ(DABCRC16::compute({}), 0xFFFF);
}

TEST(DABCRC16Test, VerifiesTrailerAndRejectsEveryOneBitError) {
    const std::vector<std::uint8_t> good = withTrailer({0x12, 0x34, 0x56, 0x78, 0x9A});
    EXPECT_TRUE(DABCRC16::verifyIncludingTrailer(good));
    for (std::size_t bit = 0; bit < 8 * good.size(); ++bit) {
        std::vector<std::uint8_t> bad = good;
        bad[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        EXPECT_FALSE(DABCRC16::verifyIncludingTrailer(bad)) << "bit " << bit;
    }
}

TEST(DABCRC16Test, ShortInputs) {
    EXPECT_FALSE(DABCRC16::verifyIncludingTrailer(std::vector<std::uint8_t>{0x00}));
    EXPECT_FALSE(DABCRC16::verifyIncludingTrailer({}));
    // Two bytes: the CRC of nothing is 0xFFFF, complemented 0x0000.
    EXPECT_TRUE(DABCRC16::verifyIncludingTrailer(std::vector<std::uint8_t>{0x00, 0x00}));
    EXPECT_FALSE(DABCRC16::verifyIncludingTrailer(std::vector<std::uint8_t>{0xFF, 0xFF}));
}
