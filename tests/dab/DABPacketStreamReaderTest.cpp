#include "dab/DABPacketStreamReader.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

namespace {
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
}  // namespace

TEST(DABPacketStreamReaderTest, FindsPacketsBetweenGarbage) {
    const Bytes a = makePacket({.address = 5, .lengthBytes = 24}, {1, 2});
    const Bytes b = makePacket({.address = 6, .lengthBytes = 96}, Bytes(80, 3));
    const Bytes stream = concat({Bytes{0x00, 0x13, 0x37}, a, Bytes(7, 0xFF), b});
    DABPacketStreamReader reader(4096);
    const auto packets = reader.append(stream);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].address, 5);
    EXPECT_EQ(packets[1].address, 6);
    EXPECT_EQ(packets[1].payload, Bytes(80, 3));
}

TEST(DABPacketStreamReaderTest, OutputDoesNotDependOnChunking) {
    Bytes stream;
    for (int n = 0; n < 20; ++n) {
        const Bytes p = makePacket({.address = static_cast<std::uint16_t>(n + 2), .lengthBytes = 24u * (1 + n % 4)},
                                   Bytes(static_cast<std::size_t>(n), static_cast<std::uint8_t>(n)));
        stream.insert(stream.end(), p.begin(), p.end());
    }
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{50}, stream.size()}) {
        SCOPED_TRACE(chunk);
        DABPacketStreamReader reader(4096);
        std::vector<std::uint16_t> addresses;
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            const auto piece = std::span(stream).subspan(pos, std::min(chunk, stream.size() - pos));
            for (const DABPacket& p : reader.append(piece)) addresses.push_back(p.address);
        }
        ASSERT_EQ(addresses.size(), 20u);
        for (int n = 0; n < 20; ++n) EXPECT_EQ(addresses[static_cast<std::size_t>(n)], n + 2);
        EXPECT_EQ(reader.bufferedBytes(), 0u);
    }
}

TEST(DABPacketStreamReaderTest, KeepsACutPacketForTheNextCall) {
    const Bytes p = makePacket({.address = 9, .lengthBytes = 48}, {4, 5, 6});
    DABPacketStreamReader reader(4096);
    EXPECT_TRUE(reader.append(std::span(p).first(30)).empty());
    EXPECT_EQ(reader.bufferedBytes(), 30u);
    const auto packets = reader.append(std::span(p).subspan(30));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].payload, (Bytes{4, 5, 6}));
}

TEST(DABPacketStreamReaderTest, BufferIsCutToTheNewestMaxBufferBytes) {
    const Bytes p = makePacket({.address = 3, .lengthBytes = 24}, {1});
    // 4114 bytes: the packet at the start is among the 18 oldest, which a 4096-byte reader drops.
    const Bytes oldFirst = concat({p, Bytes(4090, 0x00)});
    DABPacketStreamReader capped(4096);
    EXPECT_TRUE(capped.append(oldFirst).empty());
    EXPECT_LE(capped.bufferedBytes(), 4096u);
    DABPacketStreamReader roomy(8192);
    EXPECT_EQ(roomy.append(oldFirst).size(), 1u);
    // The newest bytes survive the cut.
    DABPacketStreamReader reader(4096);
    const auto packets = reader.append(concat({Bytes(5000, 0x00), p}));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].address, 3);
}

TEST(DABPacketStreamReaderTest, AddressOneProbeIsDeliveredDespiteItsCRC) {
    Bytes probe = makePacket({.address = 1, .lengthBytes = 48}, Bytes(43, 0x11));
    probe[10] ^= 0xFF;
    Bytes other = makePacket({.address = 2, .lengthBytes = 48}, Bytes(43, 0x11));
    other[10] ^= 0xFF;
    DABPacketStreamReader reader(4096);
    const auto delivered = reader.append(probe);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_FALSE(delivered[0].crcOK);
    EXPECT_EQ(reader.diagTotal(), 1);
    EXPECT_EQ(reader.noneFoundCount(), 1);
    EXPECT_TRUE(reader.append(other).empty());
}

TEST(DABPacketStreamReaderTest, AlignmentDiagnosticFindsTheShiftAndResets) {
    // A good 48-byte packet three bytes after a corrupt address-1 probe's start.
    const Bytes good = makePacket({.address = 1, .lengthBytes = 48}, Bytes(43, 0x22));
    Bytes stream = {0x40, 0x01, 43};  // probe header at shift −2
    stream.insert(stream.end(), good.begin(), good.end());
    DABPacketStreamReader reader(4096);
    // Only the probe's first 48 bytes parse as a packet; it is bad and taken, so the good one
    // is cut. The histogram shows where it was.
    reader.append(stream);
    EXPECT_EQ(reader.diagTotal(), 1);
    ASSERT_EQ(reader.shiftHistogram().count(3), 1u);
    Bytes corrupt = makePacket({.address = 1, .lengthBytes = 48}, Bytes(43, 0x33));
    corrupt[20] ^= 0x01;
    DABPacketStreamReader fresh(4096);
    for (int n = 0; n < 14; ++n) fresh.append(corrupt);
    EXPECT_EQ(fresh.diagTotal(), 14);
    EXPECT_EQ(fresh.noneFoundCount(), 14);
    fresh.append(corrupt);
    EXPECT_EQ(fresh.diagTotal(), 0);  // the 15th gives the summary line and clears
    EXPECT_EQ(fresh.noneFoundCount(), 0);
    reader.reset();
    EXPECT_TRUE(reader.shiftHistogram().empty());
}
