#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "DABDataTestBuilders.h"
#include "dab/DABPacketStreamReader.h"
#include "dab/MOTPipeline.h"

using namespace dabdatatest;

namespace {
std::vector<DABPacket> objectPackets(std::uint16_t tid, const Bytes& header, const Bytes& body,
                                     std::uint16_t address = 10) {
    Bytes stream;
    for (const Bytes& g : motObjectGroups(tid, header, body))
        stream = cat(stream, packetize(g, address));
    DABPacketStreamReader reader(1 << 20);
    return reader.append(stream);
}
Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

TEST(MOTPipelineTest, WritesEachNewLogoOnceWithoutTrailingBytes) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("vantirel-mot-" + std::to_string(::getpid())) / "KestrovaMOT";
    MOTPipeline pipeline(0xE3C79E2E, folder);
    std::vector<std::string> lines;
    int written = 0;
    pipeline.onLog = [&](const std::string& line) { lines.push_back(line); };
    pipeline.onLogoPNG = [&](const std::vector<std::uint8_t>&, const std::filesystem::path& path) {
        written += path == folder / "E3C79E2E.png";
    };
    const Bytes png = makePNG(500);
    const Bytes header =
        makeMOTHeader(static_cast<std::uint32_t>(png.size() + 9), 2, 3, {contentName("logo.png")});
    EXPECT_EQ(pipeline.ingestPackets(objectPackets(1, header, cat(png, Bytes(9, 0xEE)))), png);
    EXPECT_EQ(readFile(folder / "E3C79E2E.png"), png);
    EXPECT_EQ(written, 1);
    for (const std::string& expected :
         {"DG n=" + std::to_string(header.size() + 11) +
              " crc=OK type=MOT-header tid=0001 seg=0 last=true",
          "MOT type=PNG size=" + std::to_string(png.size() + 9) + " name=logo.png",
          std::string("LOGO show")}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    }
    std::filesystem::remove(folder / "E3C79E2E.png");
    EXPECT_EQ(pipeline.ingestPackets(objectPackets(2, header, cat(png, Bytes(9, 0xEE)))),
              png);  // same image: returned, not rewritten
    EXPECT_EQ(written, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "E3C79E2E.png"));
    std::filesystem::remove_all(folder.parent_path());
}

TEST(MOTPipelineTest, SkipsBadPacketsAddressZeroAndOtherObjects) {
    MOTPipeline pipeline(1, std::filesystem::temp_directory_path() /
                                ("vantirel-mot-skip-" + std::to_string(::getpid())));
    std::vector<std::string> lines;
    pipeline.onLog = [&](const std::string& line) { lines.push_back(line); };
    const Bytes png = makePNG(40),
                header = makeMOTHeader(static_cast<std::uint32_t>(png.size()), 2, 3);
    EXPECT_FALSE(pipeline.ingestPackets(objectPackets(1, header, png, 0)));
    EXPECT_TRUE(lines.empty());
    auto bad = objectPackets(2, header, png);
    bad[1].crcOK = false;
    EXPECT_FALSE(pipeline.ingestPackets(bad));
    EXPECT_EQ(lines.back(),
              "PKT addr=10 crc=FAIL len=96 udl=" + std::to_string(bad[1].usefulDataLength));
    EXPECT_FALSE(pipeline.ingestPackets(
        objectPackets(3, makeMOTHeader(10, 2, 1), {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4, 5, 6})));
    EXPECT_EQ(lines.back(), "PNG reject n=10 sig=FFD8FFE001020304");
}

TEST(MOTPipelineTest, TransportIdsOfTwoAddressesDoNotMix) {
    MOTPipeline pipeline(2, std::filesystem::temp_directory_path() /
                                ("vantirel-mot-mix-" + std::to_string(::getpid())));
    const Bytes png = makePNG(200);
    // Address 11 sends another object's header under the same tid between address 10's header
    // and body; one shared session would cut the PNG to 20 bytes.
    auto a = objectPackets(7, makeMOTHeader(static_cast<std::uint32_t>(png.size()), 2, 3), png, 10);
    auto b = objectPackets(7, makeMOTHeader(20, 2, 1), Bytes(20, 0x99), 11);
    std::vector<DABPacket> mixed = {a[0], b[0]};
    mixed.insert(mixed.end(), a.begin() + 1, a.end());
    EXPECT_EQ(pipeline.ingestPackets(mixed), png);
    std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                ("vantirel-mot-mix-" + std::to_string(::getpid())));
}
