#include "dab/DABPacket.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

TEST(DABPacketTest, ParsesHeaderFieldsAndPayload) {
    const Bytes p = makePacket({.address = 0x2A5, .first = true, .last = false, .continuity = 2, .command = true,
                                .lengthBytes = 72},
                               {1, 2, 3, 4, 5});
    const auto packet = DABPacket::parse(p);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->lengthCode, DABPacket::LengthCode::b72);
    EXPECT_EQ(packet->continuity, 2);
    EXPECT_TRUE(packet->first);
    EXPECT_FALSE(packet->last);
    EXPECT_EQ(packet->address, 0x2A5);
    EXPECT_TRUE(packet->command);
    EXPECT_EQ(packet->usefulDataLength, 5);
    EXPECT_EQ(packet->payload, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_TRUE(packet->crcOK);
}

TEST(DABPacketTest, UsefulDataMustFitThePacket) {
    struct Case {
        std::size_t lengthBytes;
        std::size_t useful;
        bool parses;
    };
    // Room for useful data = length − 3 header − 2 CRC.
    const Case cases[] = {{24, 19, true}, {24, 20, false}, {48, 43, true}, {48, 44, false},
                          {72, 67, true}, {96, 91, true}, {96, 92, false}, {24, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lengthBytes << "/" << c.useful);
        Bytes p = makePacket({.lengthBytes = c.lengthBytes}, Bytes(std::min(c.useful, c.lengthBytes - 5), 7));
        p[2] = static_cast<std::uint8_t>(c.useful);
        EXPECT_EQ(DABPacket::parse(p).has_value(), c.parses);
    }
}

TEST(DABPacketTest, TooFewBytesOrBadCRC) {
    const Bytes p = makePacket({}, {9, 9, 9});
    EXPECT_FALSE(DABPacket::parse(std::span(p).first(23)));
    EXPECT_FALSE(DABPacket::parse(std::span(p).first(4)));
    EXPECT_FALSE(DABPacket::parse({}));
    Bytes bad = p;
    bad[5] ^= 0x10;
    const auto packet = DABPacket::parse(bad);
    ASSERT_TRUE(packet);  // still returned, marked
    EXPECT_FALSE(packet->crcOK);
}
