#include "dab/DABDepuncture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "DABMSCTestEncoder.h"

namespace {

struct TableRow {
    int level, nMin, nMax, cuPerN, l1a, l1b, l2a, l2b, pi1, pi2;
};

// The rows of the reference EEP-A table.
std::vector<TableRow> eepATable() {
    std::vector<TableRow> rows;
    std::ifstream file(VANTIREL_SHARED_DATA_DIR "/dab_eep_a_table.txt");
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream f(line);
        std::string name, nMax;
        TableRow r{};
        f >> name >> r.level >> r.nMin >> nMax >> r.cuPerN >> r.l1a >> r.l1b >> r.l2a >> r.l2b >> r.pi1 >> r.pi2;
        r.nMax = nMax == "-" ? 1000 : std::stoi(nMax);
        rows.push_back(r);
    }
    return rows;
}

std::size_t puncturedSize(const DABEEPProfile& p) {
    return static_cast<std::size_t>(p.L1 * 4 * (8 + p.PI1) + p.L2 * 4 * (8 + p.PI2) + 12);
}

}  // namespace

TEST(DABDepunctureTest, EEPAProfilesMatchTheReferenceTableAndFillTheirSize) {
    const auto rows = eepATable();
    ASSERT_EQ(rows.size(), 5u);
    for (const TableRow& row : rows) {
        for (int n = row.nMin; n <= std::min(row.nMax, 72); ++n) {
            const int size = row.cuPerN * n;
            if (size > 864) break;
            SCOPED_TRACE(testing::Message() << "level " << row.level << " n " << n);
            const auto p = DABDepuncture::eepAProfile(row.level, size);
            ASSERT_TRUE(p);
            EXPECT_EQ(*p, (DABEEPProfile{.L1 = row.l1a * n + row.l1b, .L2 = row.l2a * n + row.l2b,
                                         .PI1 = row.pi1, .PI2 = row.pi2, .bitrateKbps = 8 * n}));
            EXPECT_EQ(p->L1 + p->L2, 6 * n);
            EXPECT_EQ(puncturedSize(*p), static_cast<std::size_t>(64 * size));
            EXPECT_EQ(DABDepuncture::puncturedLength(*p), puncturedSize(*p));
        }
    }
    EXPECT_FALSE(DABDepuncture::eepAProfile(4, 72));
    EXPECT_FALSE(DABDepuncture::eepAProfile(-1, 72));
    EXPECT_FALSE(DABDepuncture::eepAProfile(2, 5));  // 5 × 8 / 6 = 6 kbit/s: no rate
    EXPECT_FALSE(DABDepuncture::eepAProfile(0, 0));
}

TEST(DABDepunctureTest, EEPBProfilesFillTheirSizeForEveryRate) {
    const int cuPer32k[4] = {27, 21, 18, 15};
    const int pi1[4] = {10, 6, 4, 2};
    for (int level = 0; level < 4; ++level) {
        for (int n = 1; cuPer32k[level] * n <= 864; ++n) {
            SCOPED_TRACE(testing::Message() << "level " << level + 1 << "-B n " << n);
            const int size = cuPer32k[level] * n;
            const auto p = DABDepuncture::eepBProfile(level, size);
            ASSERT_TRUE(p);
            EXPECT_EQ(*p, (DABEEPProfile{.L1 = 24 * n - 3, .L2 = 3, .PI1 = pi1[level],
                                         .PI2 = pi1[level] - 1, .bitrateKbps = 32 * n}));
            EXPECT_EQ(puncturedSize(*p), static_cast<std::size_t>(64 * size));
            // 24 data bits per kbit/s and CIF.
            EXPECT_EQ(32 * (p->L1 + p->L2), 24 * p->bitrateKbps);
        }
        EXPECT_FALSE(DABDepuncture::eepBProfile(level, cuPer32k[level] + 1));
    }
}

TEST(DABDepunctureTest, SubchannelProtectionPicksTheOption) {
    const auto a = DABDepuncture::eepProfile(DABSubchannel{.sizeCU = 72, .protection = 2});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->bitrateKbps, 96);
    const auto b = DABDepuncture::eepProfile(DABSubchannel{.sizeCU = 54, .protection = 4});
    ASSERT_TRUE(b);
    EXPECT_EQ(b->bitrateKbps, 64);
    EXPECT_EQ(b->PI1, 10);
    EXPECT_FALSE(DABDepuncture::eepProfile(DABSubchannel{.sizeCU = 54, .protection = 8}));
    EXPECT_FALSE(DABDepuncture::eepProfile(DABSubchannel{.sizeCU = 35, .protection = 4, .isShort = true}));
}

TEST(DABDepuncture3A96kTest, ExpandsTo9240ValuesUsingEveryInputOnceInOrder) {
    // Inputs 1 … 4608 must land, in order, exactly where the vectors keep bits.
    std::vector<float> in(4608);
    for (std::size_t n = 0; n < in.size(); ++n) in[n] = static_cast<float>(n + 1);
    const auto out = DABDepuncture::expandEEP_A(in, 2, 72);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 9240u);
    std::string pattern;
    const auto& v = dabtest::punctureVectors();
    for (int block = 0; block < 72; ++block) {
        for (int rep = 0; rep < 4; ++rep) pattern += v.at(block < 69 ? "8" : "7");
    }
    pattern += v.at("X");
    ASSERT_EQ(pattern.size(), 9240u);
    float next = 1.0f;
    for (std::size_t n = 0; n < pattern.size(); ++n) {
        if (pattern[n] == '1') {
            ASSERT_EQ((*out)[n], next) << n;
            next += 1.0f;
        } else {
            ASSERT_EQ((*out)[n], 0.0f) << n;
        }
    }
    EXPECT_EQ(next, 4609.0f);
}

TEST(DABDepuncture3A96kTest, ShortInputFailsInTheBlocksButNotInTheTail) {
    // The 72 blocks need 4596 values; the tail takes the last 12 and tolerates running dry.
    EXPECT_FALSE(DABDepuncture::expandEEP_A(std::vector<float>(4595, 1.0f), 2, 72));
    const auto dryTail = DABDepuncture::expandEEP_A(std::vector<float>(4600, 1.0f), 2, 72);
    ASSERT_TRUE(dryTail);
    EXPECT_EQ(dryTail->size(), 9240u);
    EXPECT_EQ((*dryTail)[9216], 1.0f);
    EXPECT_EQ((*dryTail)[9237], 0.0f);  // the last kept tail position had no input left
    EXPECT_TRUE(DABDepuncture::expandEEP_A(std::vector<float>(5000, 1.0f), 2, 72));
    EXPECT_FALSE(DABDepuncture::expandEEP_A(std::vector<float>(4608, 1.0f), 3, 71));
}
