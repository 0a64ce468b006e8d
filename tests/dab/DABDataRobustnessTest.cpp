// Random, truncated and bit-flipped input for every DAB data parser: nothing may crash, read
// out of bounds or grow without bound. Meant to run under AddressSanitizer and UBSan.

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "DABDataTestBuilders.h"
#include "dab/DABPADDecoder.h"
#include "dab/DABPacketStreamReader.h"
#include "dab/MOTDirectory.h"
#include "dab/MOTPipeline.h"
#include "dab/PNGBody.h"

using namespace dabdatatest;

namespace {
struct Mutator {
    std::mt19937 rng;
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    Bytes random(int maxBytes) {
        Bytes b(static_cast<std::size_t>(below(maxBytes + 1)));
        for (auto& x : b) x = static_cast<std::uint8_t>(below(256));
        return b;
    }
    // Truncated, bit-flipped or intact; `reseal` renews the trailing CRC so parsing goes deeper.
    Bytes operator()(Bytes b, bool reseal = false) {
        if (below(4) == 0)
            b.resize(static_cast<std::size_t>(below(static_cast<int>(b.size()) + 1)));
        for (int n = below(2) * (1 + below(4)); n > 0 && !b.empty(); --n)
            b[static_cast<std::size_t>(below(static_cast<int>(b.size())))] ^=
                static_cast<std::uint8_t>(1 << below(8));
        return reseal && b.size() >= 2 ? sealed(Bytes(b.begin(), b.end() - 2)) : b;
    }
};
}  // namespace

TEST(DABDataRobustnessTest, CorruptInputNeverBreaksAParser) {
    Mutator m{std::mt19937(7)};
    DABPacketStreamReader reader(4096);
    MOTPipeline pipeline(7, std::filesystem::temp_directory_path() /
                                ("vantirel-robust-" + std::to_string(::getpid())));
    MOTSession session;
    DABPADDecoder pad;
    const Bytes png = makePNG(250);
    std::vector<Bytes> objectPADs;
    for (const Bytes& g : motObjectGroups(5, makeMOTHeader(300, 2, 3), png, 120)) {
        for (const Bytes& p : padsForGroup(g, 12, true, 5)) objectPADs.push_back(p);
    }
    for (int n = 0; n < 3000; ++n) {
        const Bytes header =
            makeMOTHeader(static_cast<std::uint32_t>(m.below(5000)), m.below(64), m.below(512),
                          {contentName("n"), {m.below(64), m.random(140)}});
        const Bytes dir =
            makeDirectory({{1, header}, {2, m(header)}}, m.below(5) == 0 ? m.below(70000) : -1);
        const int type = 3 + m.below(5);
        const Bytes group = makeDataGroup({.type = type,
                                           .transportId = static_cast<std::uint16_t>(m.below(40)),
                                           .segment = m.below(4),
                                           .last = m.below(2) == 0},
                                          type == 6    ? dir
                                          : type == 3  ? header
                                          : m.below(2) ? m(png)
                                                       : m.random(400));
        (void)MOTHeaderCore::parse(m(header));
        (void)MOTDirectory::parse(m(dir));
        if (const auto cut = PNGBody::validate(m(png))) {
            EXPECT_EQ(PNGBody::validate(*cut), cut);
        }
        for (const Bytes& input : {m(group, m.below(2) == 0), m.random(64)}) {
            if (const auto g = DABDataGroup::parse(input)) (void)session.ingest(*g);
        }
        (void)pipeline.ingestPackets(
            reader.append(m(packetize(m(group, true), static_cast<std::uint16_t>(m.below(4)),
                                      24u * static_cast<std::size_t>(1 + m.below(4))))));
        for (const Bytes& g : dlSegments(m.random(60), m.below(16), m.below(2) == 0)) {
            for (const Bytes& p : padsForGroup(m(g, true), 2, false, m.below(8), m.below(2) == 0))
                pad.pushAccessUnit(auWithPAD(m(p)));
        }
        pad.pushAccessUnit(auWithPAD(
            m(dlPlusCommand(m.below(2) == 0, {{m.below(128), m.below(128), 1 + m.below(127)}}),
              true)));
        pad.pushAccessUnit(
            m(auWithPAD(objectPADs[static_cast<std::size_t>(n) % objectPADs.size()])));
        pad.pushAccessUnit(m.random(80));
        EXPECT_LE(reader.bufferedBytes(), 4096u);
        EXPECT_LE(session.pendingObjects(), MOTSession::kMaxPendingObjects);
    }
    std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                ("vantirel-robust-" + std::to_string(::getpid())));
}
