#include "dab/DABPacketAssembler.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

namespace {
DABPacket packet(std::uint16_t address, bool first, bool last, Bytes payload) {
    return DABPacket{.first = first, .last = last, .address = address,
                     .usefulDataLength = static_cast<int>(payload.size()), .payload = std::move(payload), .crcOK = true};
}
}  // namespace

TEST(DABPacketAssemblerTest, JoinsFirstMiddleLastPerAddress) {
    DABPacketAssembler a;
    EXPECT_FALSE(a.accept(packet(1, true, false, {1, 2})));
    EXPECT_FALSE(a.accept(packet(2, true, false, {9})));  // interleaved address
    EXPECT_FALSE(a.accept(packet(1, false, false, {3})));
    const auto group = a.accept(packet(1, false, true, {4, 5}));
    ASSERT_TRUE(group);
    EXPECT_EQ(*group, (Bytes{1, 2, 3, 4, 5}));
    const auto other = a.accept(packet(2, false, true, {8}));
    ASSERT_TRUE(other);
    EXPECT_EQ(*other, (Bytes{9, 8}));
}

TEST(DABPacketAssemblerTest, FirstAndLastAtOnceAndStrayMiddles) {
    DABPacketAssembler a;
    EXPECT_EQ(a.accept(packet(7, true, true, {6})), Bytes{6});
    EXPECT_FALSE(a.accept(packet(7, false, false, {1})));  // no first packet yet
    EXPECT_FALSE(a.accept(packet(7, false, true, {2})));
    EXPECT_FALSE(a.accept(packet(8, false, true, {2})));   // address never seen
}

TEST(DABPacketAssemblerTest, NewFirstPacketDropsTheUnfinishedGroup) {
    DABPacketAssembler a;
    a.accept(packet(3, true, false, {1, 1, 1}));
    a.accept(packet(3, true, false, {2}));
    EXPECT_EQ(a.accept(packet(3, false, true, {3})), (Bytes{2, 3}));
}

TEST(DABPacketAssemblerTest, RunawayGroupIsGivenUp) {
    DABPacketAssembler a;
    a.accept(packet(4, true, false, Bytes(91, 0)));
    for (int n = 0; n < 100; ++n) a.accept(packet(4, false, false, Bytes(91, 0)));
    EXPECT_FALSE(a.accept(packet(4, false, true, {1})));  // collecting stopped at the cap
}
