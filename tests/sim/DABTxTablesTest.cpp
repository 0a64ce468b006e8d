#include "sim/DABTxTables.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/DABTxEnsemble.h"

namespace {
// Data rows of a reference table in shared/data, comments skipped.
std::vector<std::vector<std::string>> readTable(const std::string& name) {
    std::ifstream in(std::string(VANTIREL_SHARED_DATA_DIR) + "/" + name);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::vector<std::string> row;
        for (std::string f; fields >> f && f != "#";) row.push_back(f);
        if (!row.empty()) rows.push_back(row);
    }
    return rows;
}

std::uint32_t crc32(const std::string& s) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : s) {
        crc ^= c;
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
}  // namespace

TEST(DABTxTablesTest, PhaseReferenceRunsAndHValuesMatchTheReferenceFiles) {
    const auto runs = readTable("dab_prs_mode1_kin.txt");
    ASSERT_EQ(runs.size(), kDABTxPRSRuns.size());
    for (std::size_t r = 0; r < runs.size(); ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(std::stoi(runs[r][0]), kDABTxPRSRuns[r].kMin);
        EXPECT_EQ(std::stoi(runs[r][1]), kDABTxPRSRuns[r].kMin + 31);
        EXPECT_EQ(std::stoi(runs[r][3]), kDABTxPRSRuns[r].i);
        EXPECT_EQ(std::stoi(runs[r][4]), kDABTxPRSRuns[r].n);
    }
    const auto h = readTable("dab_prs_h.txt");
    ASSERT_EQ(h.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 32; ++j) EXPECT_EQ(std::stoi(h[i][j + 1]), kDABTxPRSH[i][j]);
}

// The checks listed with the reference data: first values, counts and a CRC-32 of all 1536.
TEST(DABTxTablesTest, PhaseReferenceQuarterTurnsHaveTheCheckedStatistics) {
    std::string digits;
    std::array<int, 4> counts{};
    for (int k = -768; k <= 768; ++k) {
        if (k == 0) continue;
        const int q = dabTxPRSQuarterTurns(k);
        ++counts[static_cast<std::size_t>(q)];
        digits.push_back(static_cast<char>('0' + q));
    }
    EXPECT_EQ(counts, (std::array<int, 4>{364, 404, 356, 412}));
    EXPECT_EQ(digits.substr(0, 16), "1311112231113322");
    EXPECT_EQ(digits.substr(768, 16), "3133330013331100");
    EXPECT_EQ(crc32(digits), 0x7b18b509u);
}

TEST(DABTxTablesTest, PunctureVectorsMatchTheReferenceFileAndKeepEightPlusKBits) {
    const auto rows = readTable("dab_puncture_vectors.txt");
    ASSERT_EQ(rows.size(), 25u);
    for (std::size_t k = 0; k < 24; ++k) {
        SCOPED_TRACE(k + 1);
        EXPECT_EQ(std::stoul(rows[k][1], nullptr, 2), kDABTxPunctureVectors[k]);
        EXPECT_EQ(std::popcount(kDABTxPunctureVectors[k]), static_cast<int>(9 + k));
    }
    EXPECT_EQ(rows[24][0], "X");
    EXPECT_EQ(std::stoul(rows[24][1], nullptr, 2), kDABTxTailPuncture);
    EXPECT_EQ(std::popcount(kDABTxTailPuncture), 12);
}

TEST(DABTxTablesTest, UEPTableMatchesTheReferenceFile) {
    const auto rows = readTable("dab_uep_table.txt");
    ASSERT_EQ(rows.size(), 64u);
    for (std::size_t i = 0; i < 64; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::stoi(rows[i][1]), kDABTxUEPTable[i].sizeCU);
        EXPECT_EQ(std::stoi(rows[i][2]), kDABTxUEPTable[i].protectionLevel);
        EXPECT_EQ(std::stoi(rows[i][3]), kDABTxUEPTable[i].bitrateKbps);
    }
}

TEST(DABTxTablesTest, CharsetMatchesTheDABColumnOfTheReferenceFile) {
    const auto rows = readTable("ebu_latin_charset.txt");
    ASSERT_EQ(rows.size(), 224u);
    for (std::size_t k = 0; k < 224; ++k) {
        SCOPED_TRACE(rows[k][0]);
        EXPECT_EQ(std::stoul(rows[k][0], nullptr, 16), 0x20 + k);
        EXPECT_EQ(std::stoul(rows[k][1].substr(2), nullptr, 16), kDABTxCharset0[k]);
    }
}

// Sizes and puncturing of every EEP-A profile fill the sub-channel exactly (checks given with
// the reference table), and the worked example of 96 kbit/s at 3-A.
TEST(DABTxTablesTest, EEPAProfilesFillTheirSubchannels) {
    for (int level = 1; level <= 4; ++level)
        for (int n = 1; n <= 48; ++n) {
            SCOPED_TRACE(testing::Message() << level << "-A n=" << n);
            const DABTxEEPProfile p = dabTxEEPAProfile(level, n);
            EXPECT_EQ(32 * (p.l1Blocks + p.l2Blocks), 192 * n);
            EXPECT_EQ(4 * (p.l1Blocks * (8 + p.pi1) + p.l2Blocks * (8 + p.pi2)) + 12, 64 * p.sizeCU);
        }
    const DABTxEEPProfile p = dabTxEEPAProfile(3, 12);
    EXPECT_EQ(p.sizeCU, 72);
    EXPECT_EQ(p.l1Blocks, 69);
    EXPECT_EQ(p.l2Blocks, 3);
    EXPECT_EQ(dabTxBitrateKbps({.sizeCU = 72, .eepLevel = 3}), 96);
    EXPECT_EQ(dabTxBitrateKbps({.sizeCU = 70, .protection = DABTxProtection::uep, .uepIndex = 26}), 96);
    EXPECT_EQ(dabTxBitrateKbps({.sizeCU = 71, .eepLevel = 3}), 0) << "not a whole n";
}

TEST(DABTxTablesTest, EncodesCroatianLettersAndSendsCapitalDWithStrokeAsEth) {
    struct Case {
        const char* utf8;
        std::string bytes;
    };
    const Case cases[] = {
        {"Abc 09", "Abc 09"},
        {"Đakovo-Čakovec", "\xCE" "akovo-\xCB" "akovec"},
        {"čćšžđ ČĆŠŽ", "\xDB\xFB\xDC\xDD\xDE \xCB\xEB\xCC\xCD"},
        {"Ð", "\xCE"},   // ETH itself
        {"€$", "\xA9\xAB"},
        {"Ą ą", "\x60 \x10"},  // 2015 letters, one below 0x20
        {"Ω", "?"},     // not in the set
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(dabTxEncodeCharset0(c.utf8), c.bytes);
    }
}
