#include "dab/DABDataGroup.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

TEST(DABDataGroupTest, ParsesEveryHeaderVariant) {
    struct Case {
        GroupSpec spec;
        const char* what;
    };
    const Case cases[] = {
        {{.type = 3, .transportId = 0xBEEF, .segment = 5, .last = false}, "segment, tid, CRC"},
        {{.type = 4, .transportId = std::nullopt, .segment = std::nullopt, .crc = false}, "bare"},
        {{.type = 6, .transportId = 7, .segment = 0x7FFF, .last = true, .extension = 0xA55A}, "extension"},
        {{.type = 9, .transportId = 1, .segment = 1}, "unknown type"},
    };
    const Bytes data = {10, 20, 30};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto g = DABDataGroup::parse(makeDataGroup(c.spec, data));
        ASSERT_TRUE(g);
        EXPECT_EQ(g->type, c.spec.type <= 7 ? static_cast<DABDataGroupType>(c.spec.type) : DABDataGroupType::unknown);
        EXPECT_EQ(g->transportId, c.spec.transportId);
        EXPECT_EQ(g->segmentNumber, c.spec.segment ? std::optional<std::uint16_t>(*c.spec.segment) : std::nullopt);
        EXPECT_EQ(g->lastSegment, c.spec.segment ? c.spec.last : true);
        EXPECT_EQ(g->extensionField, c.spec.extension);
        EXPECT_EQ(g->crcFlag, c.spec.crc);
        EXPECT_TRUE(g->crcOK);
        EXPECT_EQ(g->motSegmentBytes(), data);
    }
}

TEST(DABDataGroupTest, TypeNames) {
    EXPECT_EQ(description(DABDataGroupType::motHeader), "MOT-header");
    EXPECT_EQ(description(DABDataGroupType::motDirectory), "MOT-dir");
    EXPECT_EQ(description(DABDataGroupType::generalAndCA), "general+CA");
    EXPECT_EQ(description(DABDataGroupType::unknown), "unk");
}

TEST(DABDataGroupTest, EdgeCases) {
    const auto bare = DABDataGroup::parse(Bytes{0x00, 0x00});
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->dataField.empty());
    EXPECT_TRUE(bare->crcOK);
    EXPECT_TRUE(bare->motSegmentBytes().empty());

    EXPECT_FALSE(DABDataGroup::parse(Bytes{0x00}));
    EXPECT_FALSE(DABDataGroup::parse(Bytes{0x80, 0x00, 0x01}));        // extension cut
    EXPECT_FALSE(DABDataGroup::parse(Bytes{0x20, 0x00, 0x80}));        // segment field cut
    EXPECT_FALSE(DABDataGroup::parse(Bytes{0x10, 0x00, 0x11, 0x00}));  // transport id with LI 1
    EXPECT_FALSE(DABDataGroup::parse(Bytes{0x10, 0x00, 0x03, 0x00}));  // LI past the end
    EXPECT_FALSE(DABDataGroup::parse(Bytes{0x40, 0x00, 0x01}));        // no room for the CRC

    // User access without transport id keeps the whole field as the end-user address.
    const auto ua = DABDataGroup::parse(Bytes{0x10, 0x00, 0x02, 0xAB, 0xCD, 0x01});
    ASSERT_TRUE(ua);
    EXPECT_FALSE(ua->transportId);
    EXPECT_EQ(ua->userAccessBytes, (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(ua->dataField, Bytes{0x01});
}

TEST(DABDataGroupTest, CRCFailureIsReportedNotRefused) {
    Bytes g = makeDataGroup({}, {1, 2, 3});
    g[g.size() - 3] ^= 0x01;
    const auto parsed = DABDataGroup::parse(g);
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->crcOK);
}

TEST(DABDataGroupTest, SegmentSizeIsClippedToTheDataField) {
    DABDataGroup g;
    g.dataField = {0x1F, 0xFF, 1, 2, 3};  // announces 8191 bytes
    EXPECT_EQ(g.motSegmentBytes(), (Bytes{1, 2, 3}));
    g.dataField = {0x00, 0x02, 1, 2, 3};
    EXPECT_EQ(g.motSegmentBytes(), (Bytes{1, 2}));
    g.dataField = {0x00, 0x00, 1};
    EXPECT_TRUE(g.motSegmentBytes().empty());
    g.dataField = {0x42};
    EXPECT_EQ(g.motSegmentBytes(), Bytes{0x42});
}
