#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"
#include "dab/DABDataGroup.h"

using namespace dabdatatest;

TEST(DABDataGroupTest, ParsesHeaderVariants) {
    const GroupLayout cases[] = {
        {.type = 3, .transportId = 0xBEEF, .segment = 5, .last = false},
        {.type = 4, .transportId = std::nullopt, .segment = std::nullopt, .crc = false},
        {.type = 6, .transportId = 7, .segment = 0x7FFF, .extension = 0xA55A},
        {.type = 9, .transportId = 1}};
    for (const GroupLayout& c : cases) {
        SCOPED_TRACE(c.type);
        const auto g = DABDataGroup::parse(makeDataGroup(c, {10, 20, 30}));
        ASSERT_TRUE(g);
        EXPECT_EQ(g->type,
                  c.type <= 7 ? static_cast<DABDataGroupType>(c.type) : DABDataGroupType::unknown);
        EXPECT_EQ(g->transportId, c.transportId);
        EXPECT_EQ(g->segmentNumber,
                  c.segment ? std::optional<std::uint16_t>(*c.segment) : std::nullopt);
        EXPECT_EQ(g->lastSegment, !c.segment || c.last);
        EXPECT_EQ(g->extensionField, c.extension);
        EXPECT_TRUE(g->crcOK);
        EXPECT_EQ(g->motSegmentBytes(), (Bytes{10, 20, 30}));
    }
    EXPECT_EQ(description(DABDataGroupType::motBodyAndCA), "MOT-body+CA");
    EXPECT_EQ(description(DABDataGroupType::unknown), "unk");
}

TEST(DABDataGroupTest, RefusesFieldsThatDoNotFitAndFlagsBadCRC) {
    const auto bare = DABDataGroup::parse(Bytes{0x00, 0x00});
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->dataField.empty() && bare->crcOK);
    for (const Bytes& bad : {Bytes{0x00}, Bytes{0x80, 0, 1}, Bytes{0x20, 0, 0x80},
                             Bytes{0x10, 0, 0x11, 0}, Bytes{0x10, 0, 0x03, 0}, Bytes{0x40, 0, 1}}) {
        EXPECT_FALSE(
            DABDataGroup::parse(bad));  // extension, segment, LI 1 with tid, LI past end, CRC
    }
    Bytes flipped = makeDataGroup({}, {1, 2, 3});
    flipped[9] ^= 1;
    EXPECT_FALSE(DABDataGroup::parse(flipped)->crcOK);
}

TEST(DABDataGroupTest, SegmentSizeIsClippedToTheDataField) {
    DABDataGroup g;
    const std::pair<Bytes, Bytes> cases[] = {{{0x1F, 0xFF, 1, 2, 3}, {1, 2, 3}},
                                             {{0x00, 0x02, 1, 2, 3}, {1, 2}},
                                             {{0, 0, 1}, {}},
                                             {{0x42}, {0x42}}};
    for (const auto& [field, expected] : cases) {
        g.dataField = field;
        EXPECT_EQ(g.motSegmentBytes(), expected);
    }
}
