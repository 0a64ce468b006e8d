#include "sim/DABTxPacketizer.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "sim/DABTxDataGroup.h"

namespace {
struct Packet {
    int lengthBytes, continuity, address;
    bool first, last;
    std::vector<std::uint8_t> useful;
    bool crcOK;
};

// Splits a logical frame into its packets as a receiver would.
std::vector<Packet> parseFrame(std::span<const std::uint8_t> frame) {
    std::vector<Packet> packets;
    for (std::size_t at = 0; at + 3 <= frame.size();) {
        const int len = 24 * ((frame[at] >> 6) + 1);
        if (at + static_cast<std::size_t>(len) > frame.size()) break;
        const auto p = frame.subspan(at, static_cast<std::size_t>(len));
        const std::uint16_t crc = dabTxCRC16(p.first(p.size() - 2));
        packets.push_back({len, (p[0] >> 4) & 3, (p[0] & 3) << 8 | p[1], (p[0] & 0x08) != 0, (p[0] & 0x04) != 0,
                           {p.begin() + 3, p.begin() + 3 + (p[2] & 0x7F)},
                           p[p.size() - 2] == (crc >> 8) && p.back() == (crc & 0xFF)});
        at += static_cast<std::size_t>(len);
    }
    return packets;
}

std::vector<std::uint8_t> ramp(std::size_t n, int seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t k = 0; k < n; ++k) v[k] = static_cast<std::uint8_t>(seed + 7 * k);
    return v;
}
}  // namespace

TEST(DABTxPacketizerTest, PacketHeaderFieldsAndPadding) {
    std::vector<std::uint8_t> out(48, 0xEE);
    const std::vector<std::uint8_t> useful{1, 2, 3};
    dabTxPacket({.lengthBytes = 48, .continuityIndex = 2, .isFirst = true, .isLast = false, .address = 0x2A5}, useful, out);
    EXPECT_EQ(out[0], 0x40 | 0x20 | 0x08 | 0x02);  // length code 01, CI 2, first, address high bits
    EXPECT_EQ(out[1], 0xA5);
    EXPECT_EQ(out[2], 3) << "command 0, useful data length";
    EXPECT_EQ(out[3], 1);
    EXPECT_EQ(out[5], 3);
    for (std::size_t k = 6; k < 46; ++k) EXPECT_EQ(out[k], 0) << "padding " << k;
    const auto packets = parseFrame(out);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_TRUE(packets[0].crcOK);
}

TEST(DABTxPacketizerTest, EveryLengthCodeCarriesItsUsefulBytes) {
    const int lengths[] = {24, 48, 72, 96};
    for (int code = 0; code < 4; ++code) {
        SCOPED_TRACE(lengths[code]);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(lengths[code]));
        const auto useful = ramp(static_cast<std::size_t>(lengths[code] - kDABTxPacketOverheadBytes), code);
        dabTxPacket({.lengthBytes = lengths[code], .isFirst = true, .isLast = true, .address = 1}, useful, out);
        EXPECT_EQ(out[0] >> 6, code);
        const auto p = parseFrame(out);
        ASSERT_EQ(p.size(), 1u);
        EXPECT_TRUE(p[0].crcOK);
        EXPECT_EQ(p[0].useful, useful);
    }
}

// A receiver reassembling the packets of one address gets back the carousel's data groups in
// order, with the continuity index counting modulo 4 and frames holding whole packets only.
TEST(DABTxPacketizerTest, FramesReassembleTheCarouselInOrder) {
    struct Case { int bitrateKbps; };
    for (const Case c : {Case{8}, Case{16}, Case{32}, Case{64}}) {
        SCOPED_TRACE(c.bitrateKbps);
        const std::vector<std::vector<std::uint8_t>> groups{ramp(10, 1), ramp(43, 2), ramp(44, 3), ramp(300, 4), ramp(1, 5)};
        DABTxPacketizer packetizer({.address = 17, .bitrateKbps = c.bitrateKbps}, groups);
        std::vector<std::uint8_t> frame(packetizer.frameBytes());
        std::vector<std::vector<std::uint8_t>> got;
        std::vector<std::uint8_t> current;
        int expectedContinuity = 0;
        while (got.size() < 2 * groups.size()) {
            packetizer.fillFrameBytes(frame);
            std::size_t covered = 0;
            for (const Packet& p : parseFrame(frame)) {
                covered += static_cast<std::size_t>(p.lengthBytes);
                ASSERT_TRUE(p.crcOK);
                ASSERT_EQ(p.address, 17);
                ASSERT_EQ(p.continuity, expectedContinuity);
                expectedContinuity = (expectedContinuity + 1) % 4;
                ASSERT_EQ(p.first, current.empty());
                current.insert(current.end(), p.useful.begin(), p.useful.end());
                if (p.last) got.push_back(std::exchange(current, {}));
            }
            ASSERT_EQ(covered, frame.size());
        }
        for (std::size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k], groups[k % groups.size()]) << k;
    }
}

TEST(DABTxPacketizerTest, ShortGroupTakesTheSmallestPacket) {
    DABTxPacketizer packetizer({.address = 3, .bitrateKbps = 32}, {ramp(19, 0)});
    std::vector<std::uint8_t> frame(packetizer.frameBytes());  // 96 bytes
    packetizer.fillFrameBytes(frame);
    const auto p = parseFrame(frame);
    ASSERT_EQ(p.size(), 4u);
    for (const Packet& q : p) {
        EXPECT_EQ(q.lengthBytes, 24) << "19 useful bytes fit a 24-byte packet";
        EXPECT_TRUE(q.first && q.last);
    }
}

TEST(DABTxPacketizerTest, EmptyCarouselSendsPaddingPackets) {
    DABTxPacketizer packetizer({.address = 1, .bitrateKbps = 16}, {});
    std::vector<std::uint8_t> frame(packetizer.frameBytes());
    packetizer.fillFrameBytes(frame);
    const auto p = parseFrame(frame);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].address, 0);
    EXPECT_TRUE(p[0].useful.empty());
    EXPECT_TRUE(p[0].crcOK);
    EXPECT_EQ(packetizer.lapFrames(), 1u);
}

TEST(DABTxPacketizerTest, LogicalFrameBitsAreTheFrameBytesMSBFirst) {
    const std::vector<std::vector<std::uint8_t>> groups{ramp(100, 9)};
    DABTxPacketizer a({.address = 1, .bitrateKbps = 16}, groups), b({.address = 1, .bitrateKbps = 16}, groups);
    std::vector<std::uint8_t> bytes(a.frameBytes()), bits(8 * a.frameBytes());
    for (int f = 0; f < 5; ++f) {
        a.fillFrameBytes(bytes);
        b.fillLogicalFrame(bits);
        for (std::size_t i = 0; i < bits.size(); ++i) ASSERT_EQ(bits[i], (bytes[i / 8] >> (7 - i % 8)) & 1) << f << " " << i;
    }
}

// 100 bytes at 16 kbit/s: 43 + 43 + 14 useful bytes, in frames of one 48-byte packet each (the
// third in a 24-byte packet with a 24-byte packet of the next lap after it).
TEST(DABTxPacketizerTest, LapLengthCountsFramesAndLeavesStateAlone) {
    DABTxPacketizer packetizer({.address = 1, .bitrateKbps = 16}, {ramp(100, 9)});
    std::vector<std::uint8_t> before(packetizer.frameBytes()), after(packetizer.frameBytes());
    packetizer.fillFrameBytes(before);
    EXPECT_EQ(packetizer.lapFrames(), 3u);
    packetizer.fillFrameBytes(after);
    DABTxPacketizer fresh({.address = 1, .bitrateKbps = 16}, {ramp(100, 9)});
    std::vector<std::uint8_t> f1(fresh.frameBytes()), f2(fresh.frameBytes());
    fresh.fillFrameBytes(f1);
    fresh.fillFrameBytes(f2);
    EXPECT_EQ(after, f2);
}
