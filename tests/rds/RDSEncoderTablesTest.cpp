#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "sim/RDSEncoderTables.h"

namespace {

// The RDS value of each code in the project's verified table: the "[RDS: U+XXXX" value where
// a row carries one, else the row's Unicode value.
std::map<int, char32_t> rdsColumnOfTheFile() {
    std::ifstream file(VANTIREL_SHARED_DATA_DIR "/ebu_latin_charset.txt");
    const std::regex row(R"(^0x([0-9A-F]{2}) U\+([0-9A-F]{4,6}))");
    const std::regex rds(R"(\[RDS: U\+([0-9A-F]{4,6}))");
    std::map<int, char32_t> out;
    std::string line;
    while (std::getline(file, line)) {
        std::smatch m, r;
        if (!std::regex_search(line, m, row)) continue;
        const std::string value = std::regex_search(line, r, rds) ? r[1].str() : m[2].str();
        out[std::stoi(m[1].str(), nullptr, 16)] =
            static_cast<char32_t>(std::stoul(value, nullptr, 16));
    }
    return out;
}

std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

TEST(RDSEncoderTablesTest, TableMatchesTheRDSColumnOfTheFileAndEncodesEveryCharacter) {
    const std::map<int, char32_t> file = rdsColumnOfTheFile();
    ASSERT_EQ(file.size(), 224u);
    for (const auto& [code, character] : file) {
        SCOPED_TRACE(code);
        EXPECT_EQ(kRDSTxCharacters[static_cast<std::size_t>(code - 0x20)], character);
        // Every character the table has is sent as its own code; the two holes are not codes.
        const std::string expected =
            character == 0xFFFD ? "?" : std::string(1, static_cast<char>(code));
        EXPECT_EQ(rdsBytesFromUTF8(utf8(character)), expected);
    }
}

TEST(RDSEncoderTablesTest, CroatianLettersUnknownCharactersAndBrokenUTF8) {
    struct Case {
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        // Codes from the file: Č 0xCB, Š 0xCC, Ž 0xCD, č 0xDB, š 0xDC, ž 0xDD, đ 0xDE,
        // Ć 0xEB, ć 0xFB; Đ has none and goes as Ð 0xCE.
        {"ČAKOVEC", "\xCB\x41KOVEC"},
        {"čćšžđ", "\xDB\xFB\xDC\xDD\xDE"},
        {"ČĆŠŽĐ", "\xCB\xEB\xCC\xCD\xCE"},
        {"a中bą€", "a?b?\xA9"},       // 中 and ą (DAB only) have no RDS code, € is 0xA9
        {"x\xC3", "x?"},              // cut sequence
        {"\xC0\xAF", "??"},           // overlong '/'
        {"\xED\xA0\x80", "???"},      // surrogate
        {"\xF0\x9F\x8E\xB5!", "?!"},  // outside the BMP, one character
        {"a\rb\tc", "a?b?c"},         // controls are not PS characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(rdsBytesFromUTF8(c.text), c.bytes);
    }
    // RadioText keeps its control codes (0x1F soft hyphen, CR end of text); a tab is none.
    EXPECT_EQ(rdsBytesFromUTF8("a\nb\x1F\x63\r\t", true), "a\nb\x1F\x63\r?");
}

}  // namespace
