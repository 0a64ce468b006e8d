#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"
#include "dab/DABPacketAssembler.h"
#include "dab/DABPacketStreamReader.h"

using namespace dabdatatest;

TEST(DABPacketStreamReaderTest, PacketMustHoldItsUsefulData) {
    // {length, useful, bytes present, parses}: room for useful data is length − 5.
    const std::array<std::array<int, 4>, 6> cases = {{{24, 19, 24, 1},
                                                      {24, 20, 24, 0},
                                                      {24, 19, 23, 0},
                                                      {48, 43, 48, 1},
                                                      {96, 91, 96, 1},
                                                      {96, 92, 96, 0}}};
    for (const auto& [length, useful, present, parses] : cases) {
        SCOPED_TRACE(testing::Message() << length << "/" << useful << "/" << present);
        Bytes p = makePacket(0x2A5, true, false,
                             Bytes(static_cast<std::size_t>(std::min(useful, length - 5)), 7),
                             static_cast<std::size_t>(length));
        p[2] = static_cast<std::uint8_t>(useful);
        const auto packet = DABPacket::parse(std::span(p).first(static_cast<std::size_t>(present)));
        ASSERT_EQ(packet.has_value(), parses == 1);
        if (packet) {
            EXPECT_EQ(
                std::tuple(packet->address, packet->first, packet->last, packet->payload.size()),
                std::tuple(0x2A5, true, false, static_cast<std::size_t>(useful)));
        }
    }
}

TEST(DABPacketStreamReaderTest, FindsPacketsWhateverTheChunking) {
    Bytes stream = {0x00, 0x13, 0x37};  // garbage first
    for (int n = 0; n < 12; ++n)
        stream = cat(stream, makePacket(static_cast<std::uint16_t>(n + 2), true, true,
                                        Bytes(static_cast<std::size_t>(n), 1), 24u * (1 + n % 4)));
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, stream.size()}) {
        SCOPED_TRACE(chunk);
        DABPacketStreamReader reader(4096);
        std::vector<int> addresses;
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            for (const DABPacket& p : reader.append(
                     std::span(stream).subspan(pos, std::min(chunk, stream.size() - pos))))
                addresses.push_back(p.address);
        }
        EXPECT_EQ(addresses, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
    }
}

TEST(DABPacketStreamReaderTest, KeepsOnlyTheNewest4096Bytes) {
    const Bytes p = makePacket(3, true, true, {1});
    DABPacketStreamReader capped(4096), roomy(8192);
    EXPECT_TRUE(
        capped.append(cat(p, Bytes(4090, 0))).empty());  // the packet was among the oldest 18 bytes
    EXPECT_EQ(roomy.append(cat(p, Bytes(4090, 0))).size(), 1u);
    EXPECT_EQ(capped.append(cat(Bytes(5000, 0), p)).size(), 1u);
    EXPECT_LE(capped.bufferedBytes(), 4096u);
}

TEST(DABPacketStreamReaderTest, AddressOneProbeIsTakenDespiteItsCRC) {
    for (const std::uint16_t address : {1, 2}) {
        Bytes bad = makePacket(address, true, true, Bytes(43, 0x11), 48);
        bad[10] ^= 0xFF;
        DABPacketStreamReader reader(4096);
        const auto packets = reader.append(bad);
        EXPECT_EQ(packets.size(), address == 1 ? 1u : 0u);
        if (!packets.empty()) {
            EXPECT_FALSE(packets[0].crcOK);
        }
    }
}

TEST(DABPacketAssemblerTest, JoinsFirstToLastPerAddress) {
    const auto pk = [](std::uint16_t a, bool f, bool l, Bytes d) {
        return DABPacket{
            .first = f, .last = l, .address = a, .payload = std::move(d), .crcOK = true};
    };
    DABPacketAssembler a;
    EXPECT_FALSE(a.accept(pk(7, false, true, {9})));  // a middle or last packet before any first
    EXPECT_FALSE(a.accept(pk(1, true, false, {1, 1})));
    EXPECT_FALSE(a.accept(pk(1, true, false, {1, 2})));  // a new first drops the unfinished group
    EXPECT_FALSE(a.accept(pk(2, true, false, {9})));
    EXPECT_FALSE(a.accept(pk(1, false, false, {3})));
    EXPECT_EQ(a.accept(pk(1, false, true, {4})), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(a.accept(pk(2, false, true, {8})), (Bytes{9, 8}));
    EXPECT_EQ(a.accept(pk(2, true, true, {6})), Bytes{6});
    EXPECT_FALSE(a.accept(pk(2, false, true, {5})));
}
