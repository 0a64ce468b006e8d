#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "RDSTestBlocks.h"
#include "rds/RDSGroupDecoder.h"

namespace {

using namespace rdstest;

constexpr std::uint16_t kPI = 0x1234;

struct Recorder {
    RDSGroupDecoder decoder;
    std::vector<std::string> pi, ps, rt, pty;
    std::vector<bool> tp, ta;
    std::vector<RDSGroupReport> reports;
    std::vector<RDSGroupStatistics> stats;
    int programmeUpdates = 0;

    explicit Recorder(RDSGroupDecoder::Options options = {}) : decoder(options) {
        decoder.onPICodeUpdated = [this](const std::string& s) { pi.push_back(s); };
        decoder.onPSNameUpdated = [this](const std::string& s) { ps.push_back(s); };
        decoder.onRadioTextUpdated = [this](const std::string& s) { rt.push_back(s); };
        decoder.onPTYUpdated = [this](const std::string& s) { pty.push_back(s); };
        decoder.onTPUpdated = [this](bool b) { tp.push_back(b); };
        decoder.onTAUpdated = [this](bool b) { ta.push_back(b); };
        decoder.onGroup = [this](const RDSGroupReport& r, const RDSProgrammeInfo&) { reports.push_back(r); };
        decoder.onProgrammeUpdated = [this](const RDSProgrammeInfo&) { ++programmeUpdates; };
        decoder.onStatistics = [this](const RDSGroupStatistics& s) { stats.push_back(s); };
    }
    void feed(const std::vector<int>& bits) {
        for (int b : bits) decoder.processBit(b);
    }
    // A header-only group (5A) so that the PI is confirmed by the next group.
    void prime(std::uint16_t piCode = kPI) { feed(group(piCode, blockB(5, false, 10, 0), 0, 0)); }
    const RDSGroupReport& last() const { return reports.back(); }
};

std::vector<int> psGroup(int segment, std::uint8_t hi, std::uint8_t lo,
                         std::uint16_t piCode = kPI) {
    return group(piCode, blockB(0, false, 10, segment), 0xE0CD, pair(hi, lo));
}

std::vector<int> psGroups(const char* name) {
    std::vector<int> bits;
    for (int s = 0; s < 4; ++s) {
        const auto g = psGroup(s, static_cast<std::uint8_t>(name[2 * s]),
                               static_cast<std::uint8_t>(name[2 * s + 1]));
        bits.insert(bits.end(), g.begin(), g.end());
    }
    return bits;
}

std::vector<int> rtGroup(int ab, int segment, std::array<std::uint8_t, 4> b) {
    return group(kPI, blockB(2, false, 10, (ab << 4) | segment), pair(b[0], b[1]),
                 pair(b[2], b[3]));
}

TEST(RDSGroupDecoderTest, ReportsNothingUntilThePIIsConfirmedThenTheHeldGroupToo) {
    Recorder r;
    r.feed(randomBits(37, 3));
    r.feed(group(0x00A1, blockB(0, false, 31, 0, true), 0xE0CD, pair('A', 'B')));
    EXPECT_TRUE(r.pi.empty()) << "one group does not confirm a PI";
    r.feed(group(0x00A1, blockB(0, false, 31, 1, true), 0xE0CD, pair('C', 'D')));
    ASSERT_EQ(r.pi.size(), 2U);  // the held group, then the confirming one
    EXPECT_EQ(r.pi.back(), "00A1");
    EXPECT_EQ(r.pty.back(), "Alarm");
    EXPECT_EQ(r.tp.back(), true);
    EXPECT_EQ(r.reports[0].blocks[3], pair('A', 'B'));
    EXPECT_EQ(r.decoder.programme().pi, 0x00A1);
    EXPECT_EQ(r.decoder.groupCount(), 2U);
}

TEST(RDSGroupDecoderTest, DropsAStrayPIAndFollowsAStationChange) {
    Recorder r;
    r.feed(psGroups("STATION1"));
    ASSERT_EQ(r.ps.back(), "STATION1");
    const std::size_t before = r.reports.size();
    r.feed(group(0x9999, blockB(0, false, 10, 0), 0xE0CD, pair('X', 'X')));
    r.feed(psGroup(1, 'A', 'T'));
    EXPECT_EQ(r.reports.size(), before + 1) << "the other PI's group is dropped";
    EXPECT_EQ(r.decoder.programme().ps, "STATION1");

    // Three groups of a new PI in a row: a retune. The old station's data is gone.
    for (int i = 0; i < 2; ++i) r.feed(group(0x5678, blockB(5, false, 3, 0), 0, 0));
    EXPECT_EQ(r.decoder.programme().pi, kPI);
    r.feed(group(0x5678, blockB(5, false, 3, 0), 0, 0));
    EXPECT_EQ(r.decoder.programme().pi, 0x5678);
    EXPECT_EQ(r.decoder.programme().ps, "");
    EXPECT_EQ(r.pi.back(), "5678");
}

TEST(RDSGroupDecoderTest, ALongSignalLossNeedsOnlyAFreshConfirmation) {
    for (const int noiseSeconds : {2, 6}) {
        SCOPED_TRACE(noiseSeconds);
        Recorder r;
        r.feed(psGroups("STATION1"));
        r.feed(randomBits(static_cast<std::size_t>(noiseSeconds) * 1188, 5));
        for (int i = 0; i < 2; ++i) r.feed(group(0x5678, blockB(5, false, 3, 0), 0, 0));
        // After a short fade a new PI must win three times in a row; after ~5 s without
        // sync two groups confirm it as after a reset.
        EXPECT_EQ(r.decoder.programme().pi, noiseSeconds > 5 ? 0x5678 : kPI);
    }
}

TEST(RDSGroupDecoderTest, RepairsBlocksAndDecodesVersionBGroups) {
    Recorder r;
    r.prime();
    std::vector<int> bits = psGroup(0, 'A', 'B');
    bits[3 * 26 + 7] ^= 1;  // one bit wrong in block D
    r.feed(bits);
    r.feed({0});  // a damaged block is judged one bit late, after the bit-slip check
    ASSERT_EQ(r.reports.size(), 2U);
    EXPECT_EQ(r.last().blocks[3], pair('A', 'B'));
    EXPECT_EQ(r.last().correctedBits, (std::array<int, 4>{0, 0, 0, 1}));

    // 0B: PI again in block C'; with block A lost the group is still the station's.
    std::vector<int> versionB = group(kPI, blockB(0, true, 10, 1), kPI, pair('C', 'D'));
    for (int i = 0; i < 26; i += 2) versionB[static_cast<std::size_t>(i)] ^= 1;
    r.feed(versionB);
    r.feed(psGroup(2, 'E', 'F'));
    r.feed(psGroup(3, 'G', 'H'));
    ASSERT_EQ(r.reports.size(), 5U);
    EXPECT_EQ(r.reports[2].groupName(), "0B");
    EXPECT_EQ(r.reports[2].pi, kPI);
    EXPECT_EQ(r.ps.back(), "ABCDEFGH");
    EXPECT_TRUE(r.decoder.programme().sendsVersionB);
}

TEST(RDSGroupDecoderTest, PublishesAPSNameOnlyWhenAllItsSegmentsAgree) {
    Recorder r;
    r.feed(psGroup(0, 'A', 'B'));
    r.feed(psGroup(1, 'C', ' '));
    r.feed(psGroup(2, ' ', ' '));
    EXPECT_TRUE(r.ps.empty());
    r.feed(psGroup(3, ' ', ' '));
    ASSERT_EQ(r.ps.size(), 1U);
    EXPECT_EQ(r.ps[0], "ABC");
    ASSERT_TRUE(r.last().ps);
    // The name changes in mid-cycle: the mix "AB" + new segments is never shown.
    r.feed(psGroup(0, 'X', 'B'));
    EXPECT_EQ(r.ps.size(), 1U);
    for (int s = 1; s < 4; ++s) r.feed(psGroup(s, s == 1 ? 'C' : ' ', ' '));
    ASSERT_EQ(r.ps.size(), 2U);
    EXPECT_EQ(r.ps[1], "XBC");
    EXPECT_EQ(r.ta.size(), 8U);

    // Diacritics (0xCC 0xDB = "Šč"), the soft hyphen shows as nothing. TA on, music, and the
    // decoder-identification bit of segment 0 (dynamic PTY) set.
    r.feed(group(kPI, blockB(0, false, 0, 0x10 | 0x08 | 0x04 | 0), 0xE0CD, pair(0xCC, 0xDB)));
    for (int s = 1; s < 4; ++s)
        r.feed(psGroup(s, 'a', static_cast<std::uint8_t>(s == 3 ? 0x1F : 'b')));
    EXPECT_EQ(r.ps.back(), "\u0160\u010Dababa");
    EXPECT_TRUE(r.ta[8]);
    const RDSProgrammeInfo info = r.decoder.programme();
    EXPECT_EQ(info.dynamicPTY, true);
    EXPECT_EQ(info.stereo, false);  // segment 3 sent DI 0
    EXPECT_EQ(info.music, false);   // the last segments were speech
}

TEST(RDSGroupDecoderTest, RadioTextFollowsABFlagAndEndOfText) {
    Recorder r;
    r.prime();
    r.feed(rtGroup(0, 0, {'H', 'e', 'l', 'l'}));
    r.feed(rtGroup(0, 1, {'o', ' ', 'w', 'o'}));
    EXPECT_FALSE(r.last().radioText);
    r.feed(rtGroup(0, 2, {'r', 'l', 'd', 0x0D}));
    ASSERT_TRUE(r.last().radioText);
    EXPECT_EQ(*r.last().radioText, "Hello world");
    EXPECT_EQ(r.rt, (std::vector<std::string>{"Hell", "Hello wo", "Hello world"}));

    // Flag 0 -> 1: a new text. End of text after two characters completes it at once.
    r.feed(rtGroup(1, 1, {'W', 'X', 'Y', 'Z'}));
    EXPECT_EQ(r.rt.back(), "WXYZ");
    EXPECT_EQ(r.decoder.programme().radioText, "Hello world");
    r.feed(rtGroup(1, 0, {'H', 'i', 0x0D, '!'}));
    EXPECT_EQ(r.rt.back(), "Hi");
    EXPECT_EQ(r.decoder.programme().radioText, "Hi");

    // Without an end mark the message is whole only with all 16 segments.
    for (int s = 0; s < 16; ++s) {
        const auto c = static_cast<std::uint8_t>('a' + s);
        r.feed(rtGroup(0, s, {c, c, c, s == 15 ? std::uint8_t{'!'} : c}));
        EXPECT_EQ(r.last().radioText.has_value(), s == 15);
    }
    EXPECT_EQ(r.decoder.programme().radioText.size(), 64U);
    EXPECT_EQ(r.decoder.programme().radioText.back(), '!');
}

TEST(RDSGroupDecoderTest, AssemblesVersionBRadioTextAndProgrammeTypeName) {
    Recorder r;
    r.prime();
    const std::string text = "Kratki tekst\r";  // 13 codes: segments 0..6
    for (int s = 0; s < 7; ++s) {
        const auto hi = static_cast<std::uint8_t>(text[static_cast<std::size_t>(2 * s)]);
        const auto lo = 2 * s + 1 < static_cast<int>(text.size())
                            ? static_cast<std::uint8_t>(text[2 * s + 1])
                            : ' ';
        r.feed(group(kPI, blockB(2, true, 10, s), kPI, pair(hi, lo)));
    }
    EXPECT_EQ(r.decoder.programme().radioText, "Kratki tekst");
    EXPECT_EQ(r.last().groupName(), "2B");

    r.feed(group(kPI, blockB(10, false, 10, 0), pair('F', 'o'), pair('o', 't')));
    EXPECT_FALSE(r.last().ptyName);
    r.feed(group(kPI, blockB(10, false, 10, 1), pair('b', 'a'), pair('l', 'l')));
    ASSERT_TRUE(r.last().ptyName);
    EXPECT_EQ(*r.last().ptyName, "Football");
    // The A/B flag changes: a new name, complete only once both halves are in again.
    r.feed(group(kPI, blockB(10, false, 10, 0x10 | 1), pair(' ', ' '), pair(' ', ' ')));
    EXPECT_FALSE(r.last().ptyName);
    r.feed(group(kPI, blockB(10, false, 10, 0x10 | 0), pair('J', 'a'), pair('z', 'z')));
    EXPECT_EQ(r.decoder.programme().ptyName, "Jazz");
}

TEST(RDSGroupDecoderTest, CollectsAlternativeFrequencyLists) {
    Recorder r;
    r.prime();
    // Four frequencies: 87.6, 97.5, an LF/MF one (250 + code, counted but not listed), 107.9.
    const std::uint16_t codes[] = {pair(224 + 4, 1), pair(100, 250), pair(5, 204)};
    for (int i = 0; i < 3; ++i) {
        r.feed(group(kPI, blockB(0, false, 10, i), codes[i], pair('A', 'B')));
        EXPECT_EQ(r.last().alternativeFrequenciesKHz.has_value(), i == 2);
    }
    EXPECT_EQ(r.decoder.programme().alternativeFrequenciesKHz,
              (std::vector<int>{87'600, 97'500, 107'900}));
    // Two frequencies and a filler; a new count restarts the list.
    r.feed(group(kPI, blockB(0, false, 10, 3), pair(224 + 2, 10), pair('A', 'B')));
    r.feed(group(kPI, blockB(0, false, 10, 0), pair(20, 205), pair('A', 'B')));
    ASSERT_TRUE(r.last().alternativeFrequenciesKHz);
    EXPECT_EQ(*r.last().alternativeFrequenciesKHz, (std::vector<int>{88'500, 89'500}));
}

// RT+ tag group fields, as a station's encoder would lay them out.
std::vector<int> radioTextPlusGroup(int type, bool toggle, bool running, std::array<int, 3> tag1,
                                    std::array<int, 3> tag2) {
    const auto b = static_cast<std::uint16_t>(blockB(type, false, 10, 0) | (toggle ? 0x10 : 0) |
                                              (running ? 0x08 : 0) | (tag1[0] >> 3));
    const auto c = static_cast<std::uint16_t>(((tag1[0] & 7) << 13) | (tag1[1] << 7) |
                                              ((tag1[2] - 1) << 1) | (tag2[0] >> 5));
    const auto d =
        static_cast<std::uint16_t>(((tag2[0] & 31) << 11) | (tag2[1] << 5) | (tag2[2] - 1));
    return group(kPI, b, c, d);
}

TEST(RDSGroupDecoderTest, ExtractsRadioTextPlusTagsInRDSCharacters) {
    Recorder r;
    r.prime();
    // 3A: RT+ in group 12A (type code 12, version A).
    r.feed(group(kPI, blockB(3, false, 10, 12 << 1), 0x0000, RDSProgrammeState::kRadioTextPlusAID));
    // "Uživo: Bajaga - Plavi čuperak" (ž = 0xDD, č = 0xDB): artist at 7, title at 16.
    const std::vector<std::uint8_t> codes = {
        'U', 0xDD, 'i', 'v', 'o', ':', ' ',  'B', 'a', 'j', 'a', 'g', 'a', ' ',  '-', ' ',
        'P', 'l',  'a', 'v', 'i', ' ', 0xDB, 'u', 'p', 'e', 'r', 'a', 'k', 0x0D, ' ', ' '};
    for (int s = 0; s < 8; ++s) {
        const auto* c = &codes[static_cast<std::size_t>(4 * s)];
        r.feed(rtGroup(0, s, {c[0], c[1], c[2], c[3]}));
    }
    ASSERT_EQ(r.decoder.programme().radioText, "U\u017Eivo: Bajaga - Plavi \u010Duperak");
    r.feed(radioTextPlusGroup(12, false, true, {4, 7, 6}, {1, 16, 13}));
    ASSERT_TRUE(r.last().radioTextPlus);
    EXPECT_EQ(r.last().radioTextPlus->tags,
              (std::vector<RDSRadioTextPlusTag>{{4, "Bajaga"}, {1, "Plavi \u010Duperak"}}));
    RDSProgrammeInfo info = r.decoder.programme();
    EXPECT_EQ(info.radioTextPlusArtist, "Bajaga");
    EXPECT_EQ(info.radioTextPlusTitle, "Plavi \u010Duperak");
    EXPECT_TRUE(info.radioTextPlusItemRunning);

    // A dummy tag and one past the text are skipped; the item toggle clears the old item.
    r.feed(radioTextPlusGroup(12, true, false, {0, 0, 1}, {1, 20, 20}));
    ASSERT_TRUE(r.last().radioTextPlus);
    EXPECT_TRUE(r.last().radioTextPlus->tags.empty());
    info = r.decoder.programme();
    EXPECT_EQ(info.radioTextPlusArtist, "");
    EXPECT_EQ(info.radioTextPlusTitle, "");
    EXPECT_FALSE(info.radioTextPlusItemRunning);
    // Group 11A was not announced: not read as RT+.
    r.feed(radioTextPlusGroup(11, true, true, {4, 7, 6}, {1, 16, 13}));
    EXPECT_FALSE(r.last().radioTextPlus);
}

TEST(RDSGroupDecoderTest, DecodesClockTimeAndSlowLabelling) {
    Recorder r;
    r.prime();
    // 2018-12-31 (MJD 58483) 23:30 UTC, local offset -11 half hours.
    const int mjd = 58483;
    r.feed(group(kPI, static_cast<std::uint16_t>(blockB(4, false, 10, 0) | (mjd >> 15)),
                 static_cast<std::uint16_t>(((mjd & 0x7FFF) << 1) | (23 >> 4)),
                 static_cast<std::uint16_t>(((23 & 0xF) << 12) | (30 << 6) | 0x20 | 11)));
    ASSERT_TRUE(r.last().clockTime);
    EXPECT_EQ(r.last().clockTime->localISO8601(), "2018-12-31T18:00:00-05:30");
    r.feed(group(kPI, blockB(1, false, 10, 0), 0x00E3, 0));  // variant 0: ECC
    r.feed(group(kPI, blockB(1, false, 10, 0), 0x3009, 0));  // variant 3: language
    const RDSProgrammeInfo info = r.decoder.programme();
    EXPECT_EQ(info.extendedCountryCode, 0xE3);
    EXPECT_EQ(info.languageCode, 9);
    ASSERT_TRUE(info.clockTime);
    EXPECT_EQ(info.clockTime->day, 31);
}

TEST(RDSGroupDecoderTest, ReportsPTYNamesByCode) {
    const std::pair<int, const char*> cases[] = {{0, "Nedefinirano"}, {1, "Vijesti"},
                                                 {10, "Pop glazba"},  {18, "Dječji program"},
                                                 {30, "Alarm test"},  {31, "Alarm"}};
    for (const auto& [code, name] : cases) {
        SCOPED_TRACE(code);
        Recorder r;
        for (int i = 0; i < 2; ++i) r.feed(group(0xFFFF, blockB(5, false, code, 0), 0, 0));
        ASSERT_EQ(r.pty.size(), 2U);
        EXPECT_EQ(r.pty[0], name);
        EXPECT_EQ(r.pi[0], "FFFF");
        EXPECT_TRUE(r.ta.empty());
    }
}

TEST(RDSGroupDecoderTest, ResetForgetsSyncPIAndBuffers) {
    Recorder r;
    for (int s = 0; s < 3; ++s) r.feed(psGroup(s, 'A', 'B'));
    r.feed(rtGroup(0, 0, {'O', 'l', 'd', ' '}));
    std::vector<int> half = psGroup(3, 'A', 'B');
    half.resize(60);  // blocks A, B and part of C
    r.feed(half);
    r.decoder.reset();
    EXPECT_EQ(r.decoder.programme(), RDSProgrammeInfo{});
    r.feed({1, 1, 0});  // the rest of the interrupted group must not complete it
    const std::size_t reportsBefore = r.reports.size();
    r.feed(psGroup(3, 'C', 'D'));
    EXPECT_EQ(r.reports.size(), reportsBefore) << "the PI is to be confirmed afresh";
    r.feed(rtGroup(1, 1, {'N', 'e', 'w', ' '}));
    EXPECT_TRUE(r.ps.empty());  // segments 0..2 were forgotten
    EXPECT_EQ(r.rt.back(), "New");
}

TEST(RDSGroupDecoderTest, CountsGroupsAndLostBlocksOverTheLastSeconds) {
    Recorder r;
    // Ten seconds of groups; in the last four every other group has block D spoilt.
    const int groupsTotal = 114;
    int spoilt = 0;
    for (int i = 0; i < groupsTotal; ++i) {
        std::vector<int> bits = psGroup(i & 3, 'A', 'B');
        if (i >= 70 && i % 2 == 0) {
            for (int k = 0; k < 26; k += 3) bits[static_cast<std::size_t>(78 + k)] ^= 1;
            ++spoilt;
        }
        r.feed(bits);
    }
    ASSERT_EQ(r.stats.size(), static_cast<std::size_t>(groupsTotal * 104 / 1188));
    EXPECT_EQ(r.decoder.statistics().blocksLost, static_cast<std::uint64_t>(spoilt));
    // The last tick, at bit 9 x 1188 = 10692, saw the spoilt blocks of groups 70..100.
    const RDSGroupStatistics& s = r.stats.back();
    EXPECT_TRUE(s.synced);
    EXPECT_EQ(s.blocksLost, 16U);
    EXPECT_EQ(s.blocksCorrected, 0U);
    // Every group is still decodable (A and B intact): 1187.5 / 104 groups per second.
    EXPECT_NEAR(s.groupsPerSecond, 1187.5 / 104.0, 0.3);
    // Its window, the five seconds from bit 4752 on, holds 5940 / 26 = 228.5 blocks.
    EXPECT_NEAR(s.blockErrorRate, 16.0 / 228.5, 0.005);
}

}  // namespace
