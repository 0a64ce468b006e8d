#include "sim/MOTTxObject.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/DABTxDataGroup.h"

namespace {
MOTTxObject logo(std::size_t bodyBytes) {
    std::vector<std::uint8_t> body(bodyBytes);
    for (std::size_t k = 0; k < body.size(); ++k) body[k] = static_cast<std::uint8_t>(k * 13);
    return {.transportId = 0x1234, .contentName = "logo.png", .contentSubtype = kMOTImagePNG, .body = body};
}

struct ParsedGroup {
    int type, continuity;
    bool last;
    int segment, transportId;
    std::vector<std::uint8_t> segmentData;
    int segmentSize;
};

ParsedGroup parse(const std::vector<std::uint8_t>& g) {
    EXPECT_EQ(g[0] & 0xF0, 0x70) << "CRC, segment and user access flags";
    const std::uint16_t crc = dabTxCRC16(std::span(g).first(g.size() - 2));
    EXPECT_EQ(g[g.size() - 2] << 8 | g.back(), crc);
    EXPECT_EQ(g[4], 0x12);
    return {g[0] & 0x0F, g[1] >> 4, (g[2] & 0x80) != 0, (g[2] & 0x7F) << 8 | g[3], g[5] << 8 | g[6],
            {g.begin() + 9, g.end() - 2}, (g[7] & 0x1F) << 8 | g[8]};
}
}  // namespace

// Body 1000 bytes, header 7 + 11 (ContentName: 2 + charset byte + 8 name bytes), image/PNG.
TEST(MOTTxObjectTest, HeaderCoreAndContentNameBytes) {
    const auto h = motTxHeader(logo(1000));
    ASSERT_EQ(h.size(), 18u);
    // 28 bits 1000, 13 bits 18, 6 bits 2, 9 bits 3.
    const std::uint64_t core = 1000ull << 28 | 18ull << 15 | 2ull << 9 | 3ull;
    for (int b = 0; b < 7; ++b) EXPECT_EQ(h[static_cast<std::size_t>(b)], static_cast<std::uint8_t>(core >> (8 * (6 - b)))) << b;
    EXPECT_EQ(h[7], 0xCC) << "PLI 11, ContentName";
    EXPECT_EQ(h[8], 9) << "charset byte and 8 characters";
    EXPECT_EQ(h[9], 0x00) << "charset 0";
    EXPECT_EQ(std::string(h.begin() + 10, h.end()), "logo.png");
}

TEST(MOTTxObjectTest, TriggerTimeNowPrecedesTheName) {
    MOTTxObject slide = logo(10);
    slide.triggerNow = true;
    slide.contentSubtype = kMOTImageJPEG;
    const auto h = motTxHeader(slide);
    ASSERT_EQ(h.size(), 23u);
    EXPECT_EQ(((h[3] & 0x0F) << 9 | h[4] << 1 | h[5] >> 7), 23) << "header size";
    EXPECT_EQ(h[5] >> 1 & 0x3F, 2);
    EXPECT_EQ((h[5] & 1) << 8 | h[6], 1) << "JFIF";
    EXPECT_EQ(std::vector<std::uint8_t>(h.begin() + 7, h.begin() + 12), (std::vector<std::uint8_t>{0x85, 0, 0, 0, 0}));
    EXPECT_EQ(h[12], 0xCC);
}

TEST(MOTTxObjectTest, SegmentsReassembleTheBodyWithLastFlagOnTheFinalOne) {
    const MOTTxObject o = logo(2500);
    int continuity = 14;
    const auto groups = motTxSegments(4, o.transportId, o.body, 1024, continuity);
    ASSERT_EQ(groups.size(), 3u);
    std::vector<std::uint8_t> body;
    for (std::size_t n = 0; n < groups.size(); ++n) {
        const ParsedGroup p = parse(groups[n]);
        EXPECT_EQ(p.type, 4);
        EXPECT_EQ(p.segment, static_cast<int>(n));
        EXPECT_EQ(p.last, n == 2);
        EXPECT_EQ(p.transportId, 0x1234);
        EXPECT_EQ(p.continuity, static_cast<int>((14 + n) % 16)) << "wraps after 15";
        EXPECT_EQ(p.segmentSize, static_cast<int>(p.segmentData.size()));
        body.insert(body.end(), p.segmentData.begin(), p.segmentData.end());
    }
    EXPECT_EQ(body, o.body);
    EXPECT_EQ(continuity, 1);
}

TEST(MOTTxObjectTest, HeaderModeSendsTheHeaderFirst) {
    const MOTTxObject o = logo(600);
    const auto groups = motTxHeaderModeDataGroups(o, 512);
    ASSERT_EQ(groups.size(), 3u);
    const ParsedGroup header = parse(groups[0]);
    EXPECT_EQ(header.type, 3);
    EXPECT_TRUE(header.last);
    EXPECT_EQ(header.segmentData, motTxHeader(o));
    EXPECT_EQ(parse(groups[1]).type, 4);
    EXPECT_TRUE(parse(groups[2]).last);
}

TEST(MOTTxObjectTest, DirectoryListsEachObjectWithItsHeader) {
    const MOTTxObject a = logo(100);
    MOTTxObject b = logo(5000);
    b.transportId = 0x0042;
    b.contentName = "b.png";
    const std::vector<MOTTxObject> objects{a, b};
    const auto d = motTxDirectory(objects, 1024, 123);
    const auto ha = motTxHeader(a), hb = motTxHeader(b);
    ASSERT_EQ(d.size(), 13 + 2 + ha.size() + 2 + hb.size());
    EXPECT_EQ((d[0] & 0x3F) << 24 | d[1] << 16 | d[2] << 8 | d[3], static_cast<int>(d.size()));
    EXPECT_EQ(d[0] & 0xC0, 0) << "no compression";
    EXPECT_EQ(d[4] << 8 | d[5], 2) << "objects";
    EXPECT_EQ(d[6] << 16 | d[7] << 8 | d[8], 123) << "carousel period, 0.1 s";
    EXPECT_EQ((d[9] & 0x1F) << 8 | d[10], 1024);
    EXPECT_EQ(d[11] << 8 | d[12], 0) << "no directory extension";
    EXPECT_EQ(d[13] << 8 | d[14], 0x1234);
    EXPECT_TRUE(std::equal(ha.begin(), ha.end(), d.begin() + 15));
    const std::size_t second = 15 + ha.size();
    EXPECT_EQ(d[second] << 8 | d[second + 1], 0x0042);
    EXPECT_TRUE(std::equal(hb.begin(), hb.end(), d.begin() + static_cast<std::ptrdiff_t>(second + 2)));
}

TEST(MOTTxObjectTest, DirectoryModeSendsTheDirectoryThenTheBodies) {
    const std::vector<MOTTxObject> objects{logo(1500)};
    const auto groups = motTxDirectoryModeDataGroups(objects, 0xD1, 1024, 50);
    ASSERT_EQ(groups.size(), 3u);
    const ParsedGroup dir = parse(groups[0]);
    EXPECT_EQ(dir.type, 6);
    EXPECT_EQ(dir.transportId, 0xD1);
    EXPECT_TRUE(dir.last);
    EXPECT_EQ(dir.segmentData, motTxDirectory(objects, 1024, 50));
    EXPECT_EQ(parse(groups[1]).type, 4);
    EXPECT_EQ(parse(groups[2]).transportId, 0x1234);
}
