#include "rds/RDSTables.h"

#include <cctype>
#include <set>
#include <string>

#include <gtest/gtest.h>

TEST(RDSTablesTest, EveryProgrammeTypeHasItsOwnName) {
    std::set<std::string_view> names;
    for (int pty = 0; pty < 32; ++pty) {
        SCOPED_TRACE(pty);
        EXPECT_FALSE(rdsPTYName(pty).empty());
        names.insert(rdsPTYName(pty));
    }
    EXPECT_EQ(names.size(), 32u);
    // Ends and a few inner rows pin the order against a shifted table.
    EXPECT_EQ(rdsPTYName(0), "No PTY");
    EXPECT_EQ(rdsPTYName(10), "Pop music");
    EXPECT_EQ(rdsPTYName(18), "Children's programmes");
    EXPECT_EQ(rdsPTYName(31), "Alarm");
    EXPECT_TRUE(rdsPTYName(32).empty());
    EXPECT_TRUE(rdsPTYName(-1).empty());
}

TEST(RDSTablesTest, CountryFromCountrySymbolAndExtendedCode) {
    // PI country symbol, ECC and the country, from the published allocation.
    struct Case { std::uint16_t pi; std::uint8_t ecc; std::string_view country; };
    const Case cases[] = {
        {0xC201, 0xE3, "hr"}, {0xD3C2, 0xE0, "de"}, {0x1A2B, 0xE0, "de"}, {0xC204, 0xE1, "gb"},
        {0x3201, 0xE2, "pl"}, {0x8201, 0xE4, "pt"}, {0xF201, 0xE1, "fr"}, {0x1234, 0xA0, "us"},
        {0xC234, 0xF0, "cn"}, {0xA234, 0xD0, "za"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pi);
        EXPECT_EQ(rdsCountryCode(c.pi, c.ecc), c.country);
    }
}

TEST(RDSTablesTest, UnassignedOrUnknownCountryGivesNothing) {
    EXPECT_TRUE(rdsCountryCode(0x0201, 0xE3).empty());  // symbol 0 is not a country
    EXPECT_TRUE(rdsCountryCode(0x4201, 0xE3).empty());  // gap in the E3 row
    EXPECT_TRUE(rdsCountryCode(0x3201, 0xE4).empty());  // two countries claim E4/3
    EXPECT_TRUE(rdsCountryCode(0xC201, 0x00).empty());
    EXPECT_TRUE(rdsCountryCode(0xC201, 0xE5).empty());
}

TEST(RDSTablesTest, EveryCountryCodeIsTwoLowerCaseLetters) {
    for (int ecc = 0; ecc < 256; ++ecc) {
        for (int symbol = 0; symbol < 16; ++symbol) {
            const std::string_view code =
                rdsCountryCode(static_cast<std::uint16_t>(symbol << 12), static_cast<std::uint8_t>(ecc));
            if (code.empty()) continue;
            SCOPED_TRACE(std::to_string(ecc) + "/" + std::to_string(symbol));
            ASSERT_EQ(code.size(), 2u);
            EXPECT_TRUE(std::islower(static_cast<unsigned char>(code[0])));
            EXPECT_TRUE(std::islower(static_cast<unsigned char>(code[1])));
        }
    }
}

TEST(RDSTablesTest, LanguageAndRadioTextPlusNamesEndWhereTheTablesEnd) {
    EXPECT_EQ(rdsLanguageName(0x00), "Unknown");
    EXPECT_EQ(rdsLanguageName(0x19), "Luxembourgian");
    EXPECT_EQ(rdsLanguageName(0x2B), "Walloon");
    EXPECT_TRUE(rdsLanguageName(0x2C).empty());
    EXPECT_TRUE(rdsLanguageName(-1).empty());
    for (int type = 0; type < 64; ++type) EXPECT_FALSE(rdsRadioTextPlusContentTypeName(type).empty()) << type;
    EXPECT_EQ(rdsRadioTextPlusContentTypeName(31), "stationname.short");
    EXPECT_EQ(rdsRadioTextPlusContentTypeName(55), "rfu");
    EXPECT_EQ(rdsRadioTextPlusContentTypeName(58), "private");
    EXPECT_EQ(rdsRadioTextPlusContentTypeName(63), "get_data");
    EXPECT_TRUE(rdsRadioTextPlusContentTypeName(64).empty());
}
