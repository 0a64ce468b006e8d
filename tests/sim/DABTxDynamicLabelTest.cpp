#include "sim/DABTxDynamicLabel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/DABTxDataGroup.h"

namespace {
bool crcHolds(const std::vector<std::uint8_t>& g) {
    const std::uint16_t crc = dabTxCRC16(std::span(g).first(g.size() - 2));
    return g[g.size() - 2] == (crc >> 8) && g.back() == (crc & 0xFF);
}
}  // namespace

// 40 characters: segments of 16, 16 and 8.
TEST(DABTxDynamicLabelTest, LongLabelSplitsIntoSixteenCharacterSegments) {
    const std::string text = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";
    for (const bool toggle : {false, true}) {
        SCOPED_TRACE(toggle);
        const auto groups = dabTxDynamicLabelDataGroups({.text = text}, toggle);
        ASSERT_EQ(groups.size(), 3u) << "no DL Plus command without tags";
        const std::size_t lengths[] = {16, 16, 8};
        std::string joined;
        for (std::size_t n = 0; n < 3; ++n) {
            const auto& g = groups[n];
            ASSERT_EQ(g.size(), 2 + lengths[n] + 2);
            EXPECT_EQ((g[0] & 0x80) != 0, toggle);
            EXPECT_EQ((g[0] & 0x40) != 0, n == 0) << "first";
            EXPECT_EQ((g[0] & 0x20) != 0, n == 2) << "last";
            EXPECT_EQ(g[0] & 0x10, 0) << "C = 0: text";
            EXPECT_EQ((g[0] & 0x0F) + 1u, lengths[n]);
            // First segment: charset 0; later ones: segment number.
            EXPECT_EQ(g[1], n == 0 ? 0x00 : static_cast<std::uint8_t>(n << 4));
            EXPECT_TRUE(crcHolds(g));
            joined.append(g.begin() + 2, g.end() - 2);
        }
        EXPECT_EQ(joined, text);
    }
}

TEST(DABTxDynamicLabelTest, ShortLabelIsOneSegmentBothFirstAndLast) {
    const auto groups = dabTxDynamicLabelDataGroups({.text = "Vijesti"}, false);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0][0], 0x40 | 0x20 | 6);
}

// A full 128-character label is eight segments, numbered 0..7.
TEST(DABTxDynamicLabelTest, MaximumLabelUsesAllEightSegmentNumbers) {
    const auto groups = dabTxDynamicLabelDataGroups({.text = std::string(128, 'x')}, true);
    ASSERT_EQ(groups.size(), 8u);
    EXPECT_EQ(groups[7][1] >> 4, 7);
    EXPECT_EQ(groups[7][0], 0x80 | 0x20 | 15);
}

// Š, Đ (as Ð), ć, č, ž, đ in charset 0, from the EBU Latin table's DAB column.
TEST(DABTxDynamicLabelTest, CroatianLettersUseCharsetZeroCodes) {
    const auto groups = dabTxDynamicLabelDataGroups({.text = "ŠĐćčžđ"}, false);
    ASSERT_EQ(groups.size(), 1u);
    const std::vector<std::uint8_t> chars(groups[0].begin() + 2, groups[0].end() - 2);
    EXPECT_EQ(chars, (std::vector<std::uint8_t>{0xCC, 0xCE, 0xFB, 0xDB, 0xDD, 0xDE}));
}

// "Sada svira: Đuro Ćosić - Šuma": artist at 12 for 10, title at 25 for 4.
TEST(DABTxDynamicLabelTest, DLPlusCommandTagsArtistAndTitle) {
    const DABTxDynamicLabelMessage m = dabTxArtistTitleLabel("Sada svira: ", "Đuro Ćosić", " - ", "Šuma");
    EXPECT_EQ(m.text, "Sada svira: Đuro Ćosić - Šuma");
    const auto groups = dabTxDynamicLabelDataGroups(m, true);
    ASSERT_EQ(groups.size(), 3u) << "two text segments and the command";
    const std::vector<std::uint8_t> expected{
        0x80 | 0x60 | 0x10 | 0x2,  // toggle, first, last, C = 1, DL Plus
        0x80 | 6,                  // link bit = toggle, 7 bytes of command field
        0x0 << 4 | 0x4 | 1,        // CId 0, item toggle 0, item running, two tags
        4, 12, 9,                  // ITEM.ARTIST, start 12, length 10
        1, 25, 3};                 // ITEM.TITLE, start 25, length 4
    const auto& command = groups[2];
    ASSERT_EQ(command.size(), expected.size() + 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), command.begin()));
    EXPECT_TRUE(crcHolds(command));
}

TEST(DABTxDynamicLabelTest, CharacterCountIgnoresContinuationBytes) {
    EXPECT_EQ(dabTxCharacterCount(""), 0);
    EXPECT_EQ(dabTxCharacterCount("Đuro Ćosić"), 10);
}
