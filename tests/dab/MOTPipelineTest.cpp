#include "dab/MOTPipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "DABDataTestBuilders.h"
#include "dab/DABPacketStreamReader.h"

using namespace dabdatatest;

namespace {

class MOTPipelineFixture : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("vantirel-mot-" + std::to_string(::getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name()) / "KestrovaMOT";
        std::filesystem::remove_all(folder.parent_path());
    }
    void TearDown() override { std::filesystem::remove_all(folder.parent_path()); }

    // The packets of one MOT object on `address`, as the stream reader delivers them.
    static std::vector<DABPacket> objectPackets(std::uint16_t tid, const Bytes& header, const Bytes& body,
                                                std::uint16_t address = 0x0A) {
        Bytes stream;
        for (const Bytes& g : motObjectGroups(tid, header, body)) {
            const Bytes p = packetize(g, address);
            stream.insert(stream.end(), p.begin(), p.end());
        }
        DABPacketStreamReader reader(1 << 20);
        return reader.append(stream);
    }

    static Bytes readFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path folder;
};

}  // namespace

TEST_F(MOTPipelineFixture, WritesANewLogoOnceUnderTheServiceId) {
    MOTPipeline pipeline(0xE3C79E2E, folder);
    std::vector<std::string> lines;
    int written = 0;
    pipeline.onLog = [&](const std::string& line) { lines.push_back(line); };
    pipeline.onLogoPNG = [&](const std::vector<std::uint8_t>&, const std::filesystem::path& path) {
        ++written;
        EXPECT_EQ(path, folder / "E3C79E2E.png");
    };
    const Bytes png = makePNG(500);
    const Bytes header = makeMOTHeader(static_cast<std::uint32_t>(png.size()), 2, 3,
                                       {{.id = 12, .data = contentName("logo.png")}});
    const auto first = pipeline.ingestPackets(objectPackets(1, header, png));
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, png);
    EXPECT_EQ(readFile(folder / "E3C79E2E.png"), png);
    EXPECT_EQ(written, 1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "LOGO show"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "MOT type=PNG size=" + std::to_string(png.size()) + " name=logo.png"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "DG n=" + std::to_string(header.size() + 11) +
                                                        " crc=OK type=MOT-header tid=0001 seg=0 last=true"),
              lines.end());

    // The same logo again: returned, not rewritten.
    std::filesystem::remove(folder / "E3C79E2E.png");
    EXPECT_EQ(pipeline.ingestPackets(objectPackets(2, header, png)), png);
    EXPECT_EQ(written, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "E3C79E2E.png"));
}

TEST_F(MOTPipelineFixture, TrailingBytesAreCutBeforeWriting) {
    MOTPipeline pipeline(0x1234ABCD, folder);
    const Bytes png = makePNG(64);
    Bytes padded = png;
    padded.resize(png.size() + 30, 0xEE);
    const auto logo = pipeline.ingestPackets(objectPackets(5, makeMOTHeader(static_cast<std::uint32_t>(padded.size()), 2, 3), padded));
    ASSERT_TRUE(logo);
    EXPECT_EQ(*logo, png);
    EXPECT_EQ(readFile(folder / "1234ABCD.png"), png);
}

TEST_F(MOTPipelineFixture, SkipsBadPacketsAddressZeroAndNonPNGs) {
    MOTPipeline pipeline(1, folder);
    std::vector<std::string> lines;
    pipeline.onLog = [&](const std::string& line) { lines.push_back(line); };
    const Bytes png = makePNG(40);
    const Bytes header = makeMOTHeader(static_cast<std::uint32_t>(png.size()), 2, 3);
    EXPECT_FALSE(pipeline.ingestPackets(objectPackets(1, header, png, 0)));  // address 0
    EXPECT_TRUE(lines.empty());

    std::vector<DABPacket> bad = objectPackets(2, header, png);
    bad[1].crcOK = false;  // the body's only packet
    EXPECT_FALSE(pipeline.ingestPackets(bad));
    EXPECT_EQ(lines.back(), "PKT addr=10 crc=FAIL len=96 udl=" + std::to_string(bad[1].usefulDataLength));

    lines.clear();
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(pipeline.ingestPackets(objectPackets(3, makeMOTHeader(10, 2, 1), jpeg)));
    EXPECT_EQ(lines.back(), "PNG reject n=10 sig=FFD8FFE001020304");
    EXPECT_FALSE(std::filesystem::exists(folder / "00000001.png"));
}

TEST_F(MOTPipelineFixture, TransportIdsOfTwoAddressesDoNotMix) {
    MOTPipeline pipeline(2, folder);
    const Bytes png = makePNG(200);
    const Bytes header = makeMOTHeader(static_cast<std::uint32_t>(png.size()), 2, 3);
    // Address 11 sends another object's header under the same tid between address 10's
    // header and body; a shared session would cut the PNG to 20 bytes.
    auto a = objectPackets(7, header, png, 10);
    auto b = objectPackets(7, makeMOTHeader(20, 2, 1), Bytes(20, 0x99), 11);
    std::vector<DABPacket> mixed = {a[0], b[0]};
    mixed.insert(mixed.end(), a.begin() + 1, a.end());
    mixed.insert(mixed.end(), b.begin() + 1, b.end());
    EXPECT_EQ(pipeline.ingestPackets(mixed), png);
}
