#include "sim/DABTxFICEncoder.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <set>
#include <vector>

#include "sim/DABTxChannelCoding.h"
#include "sim/DABTxTables.h"
#include "sim/DemoScene.h"

namespace {
// One FIG as found in a FIB by walking the headers: type, extension and data after the
// first byte that each FIG type defines.
struct ParsedFIG {
    int type = 0;
    int extension = 0;
    bool pd = false;
    std::vector<std::uint8_t> body;
};

std::vector<ParsedFIG> parseFIB(std::span<const std::uint8_t> fib) {
    std::vector<ParsedFIG> figs;
    std::size_t k = 0;
    while (k < 30 && fib[k] != 0xFF) {
        const int type = fib[k] >> 5, length = fib[k] & 0x1F;
        EXPECT_LE(k + 1 + static_cast<std::size_t>(length), 30u);
        const std::uint8_t first = fib[k + 1];
        ParsedFIG f{.type = type,
                    .extension = type == 0 ? (first & 0x1F) : (first & 0x07),
                    .pd = type == 0 && (first & 0x20) != 0};
        if (type == 1) {
            EXPECT_EQ(first >> 4, 0) << "charset 0";
        }
        f.body.assign(fib.begin() + static_cast<std::ptrdiff_t>(k + 2),
                      fib.begin() + static_cast<std::ptrdiff_t>(k + 1 + static_cast<std::size_t>(length)));
        figs.push_back(std::move(f));
        k += 1 + static_cast<std::size_t>(length);
    }
    for (; k < 30; ++k) EXPECT_EQ(fib[k], 0xFF) << "end marker and padding";
    return figs;
}

const DABTxEnsemble& demo12C() {
    static const DABTxEnsemble e = demoDABEnsembles()[1].ensemble;
    return e;
}

std::string label(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.begin() + 16}; }
}  // namespace

TEST(DABTxFICEncoderTest, EveryFIBCarriesAValidCRC) {
    DABTxFICEncoder fic(demo12C());
    std::vector<std::uint8_t> fibs(12 * 32);
    for (int frame = 0; frame < 5; ++frame) {
        fic.buildFIBs(4 * frame, fibs);
        for (std::size_t f = 0; f < 12; ++f) {
            const std::span<const std::uint8_t> fib(fibs.data() + 32 * f, 32);
            const std::uint16_t crc = static_cast<std::uint16_t>(fib[30] << 8 | fib[31]);
            EXPECT_EQ(dabTxFIBCRC(fib.first(30)), crc) << "frame " << frame << " FIB " << f;
        }
    }
}

TEST(DABTxFICEncoderTest, FirstFIBOfEachFrameOpensWithEnsembleInformationAndCIFCount) {
    DABTxFICEncoder fic(demo12C());
    std::vector<std::uint8_t> fibs(12 * 32);
    for (int count : {0, 4, 996, 4996}) {
        SCOPED_TRACE(count);
        fic.buildFIBs(count, fibs);
        const auto figs = parseFIB(std::span(fibs).first(32));
        ASSERT_FALSE(figs.empty());
        ASSERT_EQ(figs[0].type, 0);
        ASSERT_EQ(figs[0].extension, 0);
        const auto& b = figs[0].body;
        ASSERT_EQ(b.size(), 4u);
        EXPECT_EQ(b[0] << 8 | b[1], 0x2C01);
        EXPECT_EQ((b[2] & 0x1F) * 250 + b[3], count);
        EXPECT_EQ(b[2] >> 5, 0) << "no change flags, no alarm";
    }
}

// Decodes two frames of FIBs with an independent reading of the FIG fields and compares what
// a receiver would learn with the ensemble description.
TEST(DABTxFICEncoderTest, TwoFramesCarryTheWholeEnsemble) {
    const DABTxEnsemble& e = demo12C();
    DABTxFICEncoder fic(e);
    std::vector<std::uint8_t> fibs(12 * 32);
    std::map<int, std::vector<int>> subchannels;  // id -> start, long form, level/index, size
    std::map<std::uint32_t, std::pair<int, int>> components;  // SId -> TMId, SubChId or SCId
    std::map<std::uint32_t, std::string> labels;
    std::vector<int> packet;  // SCId, DSCTy, SubChId, address
    for (int frame = 0; frame < 2; ++frame) {
        fic.buildFIBs(4 * frame, fibs);
        for (std::size_t f = 0; f < 12; ++f)
            for (const ParsedFIG& fig : parseFIB(std::span(fibs).subspan(32 * f, 32))) {
                const auto& b = fig.body;
                if (fig.type == 0 && fig.extension == 1) {
                    for (std::size_t k = 0; k < b.size();) {
                        const int id = b[k] >> 2, start = (b[k] & 3) << 8 | b[k + 1];
                        const bool longForm = b[k + 2] & 0x80;
                        if (longForm) {
                            EXPECT_EQ((b[k + 2] >> 4) & 7, 0) << "option 0: EEP set A";
                            subchannels[id] = {start, 1, ((b[k + 2] >> 2) & 3) + 1, (b[k + 2] & 3) << 8 | b[k + 3]};
                            k += 4;
                        } else {
                            EXPECT_EQ(b[k + 2] & 0x40, 0) << "table switch 0";
                            subchannels[id] = {start, 0, b[k + 2] & 0x3F, 0};
                            k += 3;
                        }
                    }
                } else if (fig.type == 0 && fig.extension == 2) {
                    const std::size_t sidBytes = fig.pd ? 4 : 2;
                    for (std::size_t k = 0; k < b.size();) {
                        std::uint32_t sid = 0;
                        for (std::size_t j = 0; j < sidBytes; ++j) sid = sid << 8 | b[k + j];
                        k += sidBytes;
                        EXPECT_EQ(b[k] & 0x0F, 1) << "one component";
                        ++k;
                        const int tmid = b[k] >> 6;
                        const int ref = tmid == 0 ? b[k + 1] >> 2 : ((b[k] & 0x3F) << 6 | b[k + 1] >> 2);
                        if (tmid == 0) {
                            EXPECT_EQ(b[k] & 0x3F, 63) << "DAB+ audio";
                        }
                        EXPECT_EQ(b[k + 1] & 0x02, 0x02) << "primary";
                        components[sid] = {tmid, ref};
                        k += 2;
                    }
                } else if (fig.type == 0 && fig.extension == 3) {
                    ASSERT_EQ(b.size(), 5u);
                    packet = {b[0] << 4 | b[1] >> 4, b[2] & 0x3F, b[3] >> 2, (b[3] & 3) << 8 | b[4]};
                } else if (fig.type == 1) {
                    const std::size_t idBytes = fig.extension == 5 ? 4 : 2;
                    ASSERT_EQ(b.size(), idBytes + 18);
                    std::uint32_t id = 0;
                    for (std::size_t j = 0; j < idBytes; ++j) id = id << 8 | b[j];
                    labels[id] = label(std::span(b).subspan(idBytes));
                    const int flags = b[idBytes + 16] << 8 | b[idBytes + 17];
                    EXPECT_GE(std::popcount(static_cast<unsigned>(flags)), 1);
                    EXPECT_LE(std::popcount(static_cast<unsigned>(flags)), 8);
                }
            }
    }
    ASSERT_EQ(subchannels.size(), e.subchannels.size());
    for (const DABTxSubchannel& s : e.subchannels) {
        SCOPED_TRACE(s.id);
        const auto& got = subchannels.at(s.id);
        EXPECT_EQ(got[0], s.startCU);
        EXPECT_EQ(got[1], 1);
        EXPECT_EQ(got[2], s.eepLevel);
        EXPECT_EQ(got[3], s.sizeCU);
    }
    EXPECT_EQ(labels.at(e.eid), "\xCE" "akovo-\xCB" "akovec  ");
    for (const DABTxService& s : e.services) {
        EXPECT_EQ(components.at(s.sid), std::make_pair(0, s.subchannelId));
        std::string expected = dabTxEncodeCharset0(s.label);
        expected.resize(16, ' ');
        EXPECT_EQ(labels.at(s.sid), expected);
    }
    ASSERT_TRUE(e.dataService);
    EXPECT_EQ(components.at(e.dataService->sid), std::make_pair(3, e.dataService->serviceComponentId));
    EXPECT_EQ(labels.at(e.dataService->sid), "Slike i vijesti ");
    EXPECT_EQ(packet, (std::vector<int>{1, 60, 17, 1}));
}

TEST(DABTxFICEncoderTest, UEPSubchannelUsesTheShortForm) {
    const DABTxEnsemble e = demoDABEnsembles()[0].ensemble;
    const auto figs = dabTxFIG01(e);
    ASSERT_EQ(figs.size(), 1u);
    // Header, FIG 0 byte, then 4 + 3 + 4 + 4 + 4 bytes of entries; the UEP one is second.
    ASSERT_EQ(figs[0].size(), 2u + 19u);
    EXPECT_EQ(figs[0][0], 19 + 1);
    EXPECT_EQ(figs[0][6] >> 2, 2);                  // SubChId 2
    EXPECT_EQ((figs[0][6] & 3) << 8 | figs[0][7], 60);  // start CU
    EXPECT_EQ(figs[0][8], 26) << "short form, table index 26";
}

TEST(DABTxFICEncoderTest, LongListsAreSplitOverSeveralFIGs) {
    DABTxEnsemble e;
    for (int k = 0; k < 12; ++k) {
        e.subchannels.push_back({.id = k, .startCU = 12 * k, .sizeCU = 12, .eepLevel = 3});
        e.services.push_back({static_cast<std::uint16_t>(0x2000 + k), "S", k});
    }
    std::set<int> ids;
    std::size_t services = 0;
    for (const DABTxFIG& fig : dabTxFIG01(e)) {
        EXPECT_LE(fig.size(), 30u);
        for (std::size_t k = 2; k < fig.size(); k += 4) ids.insert(fig[k] >> 2);
    }
    for (const DABTxFIG& fig : dabTxFIG02(e)) {
        EXPECT_LE(fig.size(), 30u);
        services += (fig.size() - 2) / 5;
    }
    EXPECT_EQ(ids.size(), 12u);
    EXPECT_EQ(services, 12u);
}

TEST(DABTxFICEncoderTest, CodedFrameIs9216BitsAndDependsOnEveryBlock) {
    DABTxFICEncoder fic(demo12C());
    std::vector<std::uint8_t> fibs(12 * 32, 0xFF), a(9216), b(9216);
    fic.encode(fibs, a);
    // Energy dispersal turns all-ones FIBs into the PRBS complement: the code output is busy.
    const int ones = std::accumulate(a.begin(), a.end(), 0);
    EXPECT_GT(ones, 9216 * 4 / 10);
    EXPECT_LT(ones, 9216 * 6 / 10);
    fibs[3 * 32 * 3 + 5] ^= 0x01;  // a bit in the fourth block
    fic.encode(fibs, b);
    for (std::size_t k = 0; k < 3 * 2304; ++k) ASSERT_EQ(a[k], b[k]) << "blocks are coded separately";
    EXPECT_NE(std::vector(a.begin() + 3 * 2304, a.end()), std::vector(b.begin() + 3 * 2304, b.end()));
}
