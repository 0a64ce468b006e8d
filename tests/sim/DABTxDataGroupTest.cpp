#include "sim/DABTxDataGroup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

bool crcHolds(const std::vector<std::uint8_t>& g) {
    const std::uint16_t crc = dabTxCRC16(std::span(g).first(g.size() - 2));
    return g[g.size() - 2] == (crc >> 8) && g.back() == (crc & 0xFF);
}
}  // namespace

// The CRC is CRC-16/GENIBUS in the usual catalogue (poly 0x1021, init and xorout 0xFFFF, not
// reflected), whose check value over "123456789" is 0xD64E.
TEST(DABTxDataGroupTest, CRCMatchesTheCatalogueCheckValue) {
    EXPECT_EQ(dabTxCRC16(bytesOf("123456789")), 0xD64E);
    EXPECT_EQ(dabTxCRC16({}), 0x0000) << "ones in, complemented out";
}

TEST(DABTxDataGroupTest, MOTBodyHeaderCarriesFlagsSegmentAndTransportId) {
    const std::vector<std::uint8_t> data{0xAA, 0xBB, 0xCC};
    const auto g = dabTxDataGroup({.type = 4,
                                   .continuityIndex = 9,
                                   .repetitionIndex = 2,
                                   .segment = DABTxSegmentField{.isLast = true, .number = 0x123},
                                   .transportId = 0xBEEF},
                                  data);
    const std::vector<std::uint8_t> expected{
        0x74,              // extension 0, CRC 1, segment 1, user access 1, type 4
        0x92,              // continuity 9, repetition 2
        0x81, 0x23,        // last, segment 0x123
        0x12, 0xBE, 0xEF,  // transport id flag, length 2, id
        0xAA, 0xBB, 0xCC};
    ASSERT_EQ(g.size(), expected.size() + 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), g.begin()));
    EXPECT_TRUE(crcHolds(g));
}

TEST(DABTxDataGroupTest, OptionalFieldsLeaveTheirFlagsClear) {
    const std::vector<std::uint8_t> data{1, 2};
    const auto bare = dabTxDataGroup({.type = 6, .hasCRC = false}, data);
    EXPECT_EQ(bare, (std::vector<std::uint8_t>{0x06, 0x00, 1, 2}));
    const auto withCRC = dabTxDataGroup({.type = 3, .continuityIndex = 15}, data);
    ASSERT_EQ(withCRC.size(), 6u);
    EXPECT_EQ(withCRC[0], 0x43);
    EXPECT_EQ(withCRC[1], 0xF0);
    EXPECT_TRUE(crcHolds(withCRC));
}

TEST(DABTxDataGroupTest, EveryFlippedBitBreaksTheCRC) {
    const std::vector<std::uint8_t> data(40, 0x5A);
    const auto g = dabTxDataGroup({.type = 4, .segment = DABTxSegmentField{}, .transportId = 7}, data);
    for (std::size_t bit = 0; bit < 8 * g.size(); ++bit) {
        auto bad = g;
        bad[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        EXPECT_FALSE(crcHolds(bad)) << bit;
    }
}
