#include <gtest/gtest.h>

#include <random>

#include "DABTestSignal.h"
#include "dab/DABFICDecoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Acc = DABFICDecoder::Accumulators;

Bytes padded(Bytes fib) {
    fib.resize(30, 0x00);
    return fib;
}

std::optional<std::string> label(const Bytes& bytes, int charset = 0) {
    Bytes sixteen = bytes;
    sixteen.resize(16, 0x20);
    return DABFICDecoder::decodeFIGLabel(sixteen, charset);
}

}  // namespace

TEST(DABFICDecoderFIGTest, FIBWalkStopsAtEndMarkerZeroLengthAndOverrun) {
    const Bytes fig00 = dabtest::fig(0, {0x00, 0x12, 0x34, 0x00, 0x00});
    struct Case {
        const char* name;
        Bytes fib;
        std::uint16_t expectedId;
    };
    const Case cases[] = {
        {"plain", padded(fig00), 0x1234},
        {"end marker first", padded([&] { Bytes b{0xFF}; b.insert(b.end(), fig00.begin(), fig00.end()); return b; }()), 0},
        {"zero length first", padded([&] { Bytes b{0x00}; b.insert(b.end(), fig00.begin(), fig00.end()); return b; }()), 0},
        // A type 2 FIG is skipped, the FIG after it is read.
        {"unknown type skipped", padded([&] { Bytes b{0x42, 0xAA, 0xBB}; b.insert(b.end(), fig00.begin(), fig00.end()); return b; }()), 0x1234},
        // Length 31 would run past byte 30.
        {"overrun", padded(Bytes{0x1F, 0x00, 0x56, 0x78}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Acc acc;
        DABFICDecoder::parseFIB(c.fib, acc);
        EXPECT_EQ(acc.ensembleId, c.expectedId);
    }
}

TEST(DABFICDecoderFIGTest, SubchannelOrganisationLongAndShortForm) {
    std::map<int, DABSubchannel> subs;
    // Long form: SubChId 5, start 0x123, protection field 6 (option B, level 3), 84 CU.
    DABFICDecoder::parseFIG0_1(Bytes{0x15, 0x23, 0x98, 0x54}, subs);
    EXPECT_EQ(subs.at(5), (DABSubchannel{.id = 5, .startCU = 0x123, .sizeCU = 84, .protection = 6}));
    // Short form index 0 (32 kbit/s, 16 CU) and index 27 (96 kbit/s at level 2, 84 CU); the
    // table switch bit is not read.
    DABFICDecoder::parseFIG0_1(Bytes{0x08, 0x10, 0x00, 0x0C, 0x20, 0x5B}, subs);
    EXPECT_EQ(subs.at(2), (DABSubchannel{.id = 2, .startCU = 0x10, .sizeCU = 16, .protection = 0, .isShort = true}));
    EXPECT_EQ(subs.at(3), (DABSubchannel{.id = 3, .startCU = 0x20, .sizeCU = 84, .protection = 27, .isShort = true}));
    // A later entry replaces an earlier one.
    DABFICDecoder::parseFIG0_1(Bytes{0x14, 0x00, 0x8C, 0x30}, subs);
    EXPECT_EQ(subs.at(5).sizeCU, 0x30);
    EXPECT_EQ(subs.at(5).protection, 3);

    // A long-form entry missing its fourth byte stores nothing and ends the walk.
    std::map<int, DABSubchannel> cut;
    DABFICDecoder::parseFIG0_1(Bytes{0x04, 0x00, 0x88}, cut);
    DABFICDecoder::parseFIG0_1(Bytes{0x04, 0x00, 0x1B, 0x08, 0x00, 0x88}, cut);
    EXPECT_EQ(cut.size(), 1u);
    EXPECT_TRUE(cut.contains(1));
    DABFICDecoder::parseFIG0_1(Bytes{0x04, 0x00}, cut);
    EXPECT_EQ(cut.size(), 1u);
}

TEST(DABFICDecoderFIGTest, ServiceOrganisationLinksTheFirstComponent) {
    Acc acc;
    // Programme service 0x4001 with four components; the first is on SubChId 7, the 8
    // component bytes are skipped and service 0x4002 (SubChId 9) follows.
    DABFICDecoder::handleFIG0(Bytes{0x02, 0x40, 0x01, 0x04, 0x00, 0x1C, 0x00, 0x28, 0x00, 0x2C,
                                    0x00, 0x30, 0x40, 0x02, 0x01, 0x00, 0x24}, acc);
    ASSERT_EQ(acc.services.size(), 2u);
    EXPECT_EQ(acc.services.at(0x4001), (DABService{.id = 0x4001, .name = "SId 4001", .isAudio = true}));
    EXPECT_EQ(acc.serviceLinks.at(0x4001).primarySubchannelId, 7);
    EXPECT_EQ(acc.serviceLinks.at(0x4002).primarySubchannelId, 9);

    // A labelled service keeps its name; a service without components has no primary.
    acc.services[0x4001].name = "Jazz";
    DABFICDecoder::handleFIG0(Bytes{0x02, 0x40, 0x01, 0x00}, acc);
    EXPECT_EQ(acc.services.at(0x4001).name, "Jazz");
    EXPECT_FALSE(acc.serviceLinks.at(0x4001).primarySubchannelId.has_value());

    // Data service: 32-bit SId, eight-digit placeholder; a component cut off gives no primary.
    DABFICDecoder::handleFIG0(Bytes{0x22, 0xE2, 0x00, 0x00, 0x0A, 0x01, 0x00}, acc);
    EXPECT_EQ(acc.services.at(0xE200000A), (DABService{.id = 0xE200000A, .name = "SId E200000A", .isAudio = false}));
    EXPECT_FALSE(acc.serviceLinks.at(0xE200000A).primarySubchannelId.has_value());
    EXPECT_FALSE(acc.serviceLinks.at(0xE200000A).isAudio);

    // FIG 0/0 with a zero identifier keeps the one already known.
    DABFICDecoder::handleFIG0(Bytes{0x00, 0xAB, 0xCD, 0x00}, acc);
    DABFICDecoder::handleFIG0(Bytes{0x00, 0x00, 0x00, 0x00}, acc);
    EXPECT_EQ(acc.ensembleId, 0xABCD);
}

TEST(DABFICDecoderFIGTest, LabelsOfEnsembleAndServices) {
    Acc acc;
    const auto data = [](const Bytes& fig) { return std::span<const std::uint8_t>(fig).subspan(1); };
    DABFICDecoder::handleFIG1(data(dabtest::fig1Label(0, 0xE1F0, 2, dabtest::label16("  My Mux  "))), acc);
    EXPECT_EQ(acc.ensembleLabel, "My Mux");
    EXPECT_EQ(acc.ensembleId, 0xE1F0);
    DABFICDecoder::handleFIG1(data(dabtest::fig1Label(1, 0xD00D, 2, dabtest::label16("Word 1!"))), acc);
    EXPECT_EQ(acc.services.at(0xD00D), (DABService{.id = 0xD00D, .name = "Word 1", .isAudio = true}));
    // "A" and fifteen blanks is one character: ignored.
    DABFICDecoder::handleFIG1(data(dabtest::fig1Label(1, 0xD00E, 2, dabtest::label16("A"))), acc);
    EXPECT_FALSE(acc.services.contains(0xD00E));
    // Data service label (FIG 1/5) replaces a placeholder and marks the service as data.
    acc.services[0xE0000001] = DABService{.id = 0xE0000001, .name = "SId E0000001", .isAudio = true};
    DABFICDecoder::handleFIG1(data(dabtest::fig1Label(5, 0xE0000001, 4, dabtest::label16("Traffic"))), acc);
    EXPECT_EQ(acc.services.at(0xE0000001), (DABService{.id = 0xE0000001, .name = "Traffic", .isAudio = false}));
    // Too short for a label: nothing.
    DABFICDecoder::handleFIG1(Bytes{0x01, 0xD0, 0x0F, 'A', 'B'}, acc);
    EXPECT_FALSE(acc.services.contains(0xD00F));
}

TEST(DABFICDecoderFIGTest, LabelDecodingByCharacterSet) {
    struct Case {
        const char* name;
        Bytes bytes;
        int charset;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"word digit bang", {'W', 'o', 'r', 'd', ' ', '1', '!'}, 0, "Word 1"},
        {"latin-1 e acute", {'C', 'a', 'f', 0xE9}, 4, "Caf\u00E9"},
        // EBU Latin: 0xDB č, 0xFB ć, 0xDC š, 0xDD ž, 0xDE đ, 0xCE Ð (stands in for Đ).
        {"ebu croatian", {0xDB, 0xFB, 0xDC, 0xDD, 0xDE, ' ', 0xCE}, 0, "\u010D\u0107\u0161\u017E\u0111 \u00D0"},
        {"ebu below 0x20", {0x01, 0x10, 0x0A, 'x'}, 0, "\u0118\u0105x"},
        {"utf-8", {'K', 0xC3, 0xB6, 'l', 'n', ' ', 0xE2, 0x82, 0xAC}, 15, "K\u00F6ln "},
        {"unknown charset reads as ebu", {'Z', 0xDD}, 9, "Z\u017E"},
        {"kept punctuation", {'R', 'o', 'c', 'k', '-', 'P', 'o', 'p', '+', '.', '&'}, 0, "Rock-Pop+"},
        {"stops at 0x00", {'A', 'B', 0x00, 'C', 'D'}, 0, "AB"},
        {"leading 0xFF", {0xFF, 'A', 'B'}, 0, std::nullopt},
        {"only punctuation", {'.', '!', '?'}, 0, std::nullopt},
        {"blanks", {}, 0, std::nullopt},
        {"trailing dropped keeps space", {'A', 'B', ' ', '!'}, 0, "AB "},
        {"bad utf-8 byte dropped", {'O', 'K', 0xC3}, 15, "OK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(label(c.bytes, c.charset), c.expected);
    }
}

TEST(DABFICDecoderFIGTest, RandomAndTruncatedFIGsNeverReadOutOfBounds) {
    // Run under AddressSanitizer: every read must stay inside the span handed over, which is a
    // heap copy of exactly the given length.
    std::mt19937 rng(1234);
    for (int round = 0; round < 20'000; ++round) {
        const std::size_t length = rng() % 33;
        Bytes bytes(length);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        // Bias towards the FIGs that are parsed.
        if (length > 0 && round % 2 == 0) bytes[0] = static_cast<std::uint8_t>((rng() % 2) << 5 | (bytes[0] & 0x1F));
        if (length > 1 && round % 3 == 0) bytes[1] = static_cast<std::uint8_t>(bytes[1] & 0x27);
        Acc acc;
        const std::vector<std::uint8_t> exact(bytes);
        DABFICDecoder::parseFIB(exact, acc);
        DABFICDecoder::handleFIG0(exact, acc);
        DABFICDecoder::handleFIG1(exact, acc);
        DABFICDecoder::parseFIG0_1(exact, acc.subchannels);
        DABFICDecoder::parseFIG0_2(exact, round % 2 == 1, acc);
        for (const int charset : {0, 4, 15, 7}) (void)DABFICDecoder::decodeFIGLabel(exact, charset);
        for (const auto& [sid, service] : acc.services) EXPECT_FALSE(service.name.empty());
    }
    // Every prefix of a real FIB.
    const auto fibs = dabtest::exampleFIBs();
    for (const auto& fib : fibs) {
        for (std::size_t n = 0; n <= 30; ++n) {
            Acc acc;
            const std::vector<std::uint8_t> prefix(fib.begin(), fib.begin() + static_cast<std::ptrdiff_t>(n));
            DABFICDecoder::parseFIB(prefix, acc);
        }
    }
}
