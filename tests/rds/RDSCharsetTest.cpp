#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "rds/RDSCharset.h"

namespace {

// Every code of the table file: the RDS value where the row gives one, else the common one.
TEST(RDSCharsetTest, MatchesEveryCodeOfTheTableFile) {
    std::ifstream in(std::string(VANTIREL_SHARED_DATA_DIR) + "/ebu_latin_charset.txt");
    const std::regex row(R"(^0x([0-9A-F]{2}) U\+([0-9A-F]{4}))");
    const std::regex rds(R"(\[RDS: U\+([0-9A-F]{4}))");
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, row)) continue;
        const auto code = static_cast<std::uint8_t>(std::stoul(m[1], nullptr, 16));
        auto expected = static_cast<char32_t>(std::stoul(m[2], nullptr, 16));
        std::smatch r;
        if (std::regex_search(line, r, rds))
            expected = static_cast<char32_t>(std::stoul(r[1], nullptr, 16));
        SCOPED_TRACE(line);
        EXPECT_EQ(RDSCharset::codePoint(code), expected);
        ++rows;
    }
    EXPECT_EQ(rows, 224);
    EXPECT_EQ(RDSCharset::codePoint(0x7F), U'\uFFFD');
    EXPECT_EQ(RDSCharset::codePoint(0xFF), U'\uFFFD');
}

TEST(RDSCharsetTest, ConvertsToUTF8WithTextControls) {
    struct Case {
        std::vector<std::uint8_t> codes;
        std::string utf8;
    };
    const Case cases[] = {
        {{'A', 'b', ' ', '1'}, "Ab 1"},
        {{0x24}, "\u00A4"},                          // two bytes
        {{0x9D, 0xBA, 0x5E}, "\u011F\u00F7\u2015"},  // g breve, division sign, a three-byte bar
        {{'a', 0x0A, 'b', 0x0B, 'c'}, "a b c"},      // line break and end of headline: a space
        {{'x', 0x1F, 'y', 0x01, 0x00}, "xy"},        // soft hyphen and other controls: nothing
        {{0x7F}, "\uFFFD"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(RDSCharset::toUTF8(c.codes), c.utf8);
    }
}

}  // namespace
