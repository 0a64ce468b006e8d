// Random, truncated and bit-flipped input for every DAB data parser: nothing may crash, read
// out of bounds or grow without bound. Meant to run under AddressSanitizer and UBSan.

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "DABDataTestBuilders.h"
#include "dab/DABDataGroup.h"
#include "dab/DABDynamicLabel.h"
#include "dab/DABPADDecoder.h"
#include "dab/DABPacketStreamReader.h"
#include "dab/MOTDirectory.h"
#include "dab/MOTPipeline.h"
#include "dab/MOTSession.h"
#include "dab/PNGBody.h"

using namespace dabdatatest;

namespace {

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : rng(seed) {}
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    Bytes random(std::size_t maxBytes) {
        Bytes b(static_cast<std::size_t>(below(static_cast<int>(maxBytes) + 1)));
        for (auto& x : b) x = static_cast<std::uint8_t>(below(256));
        return b;
    }
    // Truncates, flips bits or leaves as is; `fixCRC` re-seals the trailer so the parser goes deeper.
    Bytes mutate(Bytes b, bool fixCRC = false) {
        switch (below(4)) {
            case 0: b.resize(static_cast<std::size_t>(below(static_cast<int>(b.size()) + 1))); break;
            case 1:
            case 2:
                for (int n = below(4) + 1; n > 0 && !b.empty(); --n) {
                    b[static_cast<std::size_t>(below(static_cast<int>(b.size())))] ^=
                        static_cast<std::uint8_t>(1U << below(8));
                }
                break;
            default: break;
        }
        if (fixCRC && b.size() >= 2) {
            b.resize(b.size() - 2);
            appendCRC(b);
        }
        return b;
    }

private:
    std::mt19937 rng;
};

constexpr int kRounds = 3000;

}  // namespace

TEST(DABDataRobustnessTest, PacketsAndStreams) {
    Mutator m(11);
    DABPacketStreamReader reader(4096);
    DABPacketAssembler assembler;
    for (int n = 0; n < kRounds; ++n) {
        const Bytes good = packetize(makeDataGroup({}, m.random(300)), static_cast<std::uint16_t>(m.below(1024)),
                                     24u * static_cast<std::size_t>(1 + m.below(4)));
        const Bytes input = m.below(3) == 0 ? m.random(200) : m.mutate(good);
        if (const auto p = DABPacket::parse(input)) {
            EXPECT_LE(p->payload.size(), p->lengthBytes() - 5);
        }
        for (const DABPacket& p : reader.append(input)) {
            if (const auto g = assembler.accept(p)) {
                EXPECT_LE(g->size(), DABPacketAssembler::kMaxGroupBytes);
            }
        }
        EXPECT_LE(reader.bufferedBytes(), 4096u);
    }
}

TEST(DABDataRobustnessTest, DataGroupsMOTHeadersDirectoriesAndSessions) {
    Mutator m(12);
    MOTSession session;
    for (int n = 0; n < kRounds; ++n) {
        const Bytes header = makeMOTHeader(static_cast<std::uint32_t>(m.below(5000)), m.below(64), m.below(512),
                                           {{.id = 12, .data = contentName("n")}, {.id = m.below(64), .data = m.random(140)}});
        const Bytes dir = makeDirectory({{1, header}, {2, m.mutate(header)}}, m.below(5) == 0 ? m.below(70000) : -1);
        (void)MOTHeaderCore::parse(m.mutate(header));
        (void)MOTHeaderCore::parse(m.random(64));
        (void)MOTDirectory::parse(m.mutate(dir));
        const int type = 3 + m.below(5);
        const Bytes data = type == 6 ? dir : (type == 3 ? header : m.random(400));
        const Bytes group = makeDataGroup({.type = type, .transportId = static_cast<std::uint16_t>(m.below(40)),
                                           .segment = m.below(4), .last = m.below(2) == 0},
                                          data);
        for (const Bytes& input : {m.mutate(group, m.below(2) == 0), m.random(64)}) {
            if (const auto g = DABDataGroup::parse(input)) {
                (void)g->motSegmentBytes();
                (void)session.ingest(*g);
            }
        }
        EXPECT_LE(session.pendingObjects(), MOTSession::kMaxPendingObjects);
    }
}

TEST(DABDataRobustnessTest, PNGValidation) {
    Mutator m(13);
    for (int n = 0; n < kRounds; ++n) {
        const Bytes input = m.below(4) == 0 ? m.random(100) : m.mutate(makePNG(static_cast<std::size_t>(m.below(100))));
        if (const auto png = PNGBody::validate(input)) {
            EXPECT_LE(png->size(), input.size());
            EXPECT_TRUE(PNGBody::validate(*png));  // a cut PNG validates again, unchanged
        }
    }
}

TEST(DABDataRobustnessTest, PADAndDynamicLabels) {
    Mutator m(14);
    DABPADDecoder pad;
    DABDynamicLabel label;
    int callbacks = 0;
    pad.onDynamicLabel = [&](const std::string&, const std::optional<std::string>&, const std::optional<std::string>&) { ++callbacks; };
    pad.onSlide = [&](const std::vector<std::uint8_t>&, const std::string&, const std::string&) { ++callbacks; };
    const auto motPads = [&] {
        std::vector<Bytes> out;
        for (const Bytes& g : motObjectGroups(5, makeMOTHeader(300, 2, 3), makePNG(250), 120)) {
            const auto p = padsForGroup(g, 12, 13, true, 5);
            out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    }();
    for (int n = 0; n < kRounds; ++n) {
        const Bytes text = m.random(60);
        for (const Bytes& g : dlSegments(text, m.below(16), m.below(2) == 0)) {
            label.pushDataGroup(m.mutate(g, true));
            for (const Bytes& p : padsForGroup(m.mutate(g), 2, 3, false, m.below(8), m.below(2) == 0)) {
                pad.pushAccessUnit(auWithPAD(m.mutate(p)));
            }
        }
        label.pushDataGroup(m.mutate(dlPlusCommand(m.below(2) == 0, {{.contentType = m.below(128), .start = m.below(128),
                                                                       .length = 1 + m.below(127)}}),
                                     true));
        pad.pushAccessUnit(m.mutate(auWithPAD(motPads[static_cast<std::size_t>(n) % motPads.size()])));
        pad.pushAccessUnit(m.random(80));
        pad.pushPAD(m.random(40));
    }
    SUCCEED() << callbacks << " callbacks";
}

TEST(DABDataRobustnessTest, PipelineOnCorruptPackets) {
    Mutator m(15);
    const auto folder = std::filesystem::temp_directory_path() / ("vantirel-robust-" + std::to_string(::getpid()));
    MOTPipeline pipeline(7, folder);
    DABPacketStreamReader reader(4096);
    for (int n = 0; n < 300; ++n) {
        Bytes stream;
        for (const Bytes& g : motObjectGroups(static_cast<std::uint16_t>(n % 5), makeMOTHeader(400, 2, 3), makePNG(300), 150)) {
            const Bytes p = m.mutate(packetize(g, 0x0A, 96));
            stream.insert(stream.end(), p.begin(), p.end());
        }
        (void)pipeline.ingestPackets(reader.append(stream));
    }
    std::filesystem::remove_all(folder);
}
