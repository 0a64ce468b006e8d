#include "dab/DABCharset.h"

#include <gtest/gtest.h>

#include <vector>

TEST(DABCharsetTest, EBULatinCodePoints) {
    struct Case {
        std::uint8_t code;
        char32_t expected;
    };
    // From the EBU Latin table (DAB column, 2015 revision).
    const Case cases[] = {{0x41, U'A'},    {0x24, 0x0142},  {0x5C, 0x016E}, {0x7F, 0x0126},
                          {0xA9, 0x20AC},  {0xCE, 0x00D0},  {0xDB, 0x010D}, {0xFF, 0x0127},
                          {0x0D, 0x0139},  {0x1E, 0x017C},  {0x00, 0},      {0x0A, 0},
                          {0x0B, 0},       {0x1F, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        EXPECT_EQ(dabCharsetCodePoint(c.code), c.expected);
    }
    int withCharacter = 0;
    for (int b = 0; b < 256; ++b) withCharacter += dabCharsetCodePoint(static_cast<std::uint8_t>(b)) != 0;
    EXPECT_EQ(withCharacter, 252);
}

TEST(DABCharsetTest, DecodesEachCharsetToUTF8) {
    const std::vector<std::uint8_t> bytes{'a', 0xE9, 0x0A, 'b'};
    EXPECT_EQ(decodeDABText(bytes, 0), "a\u014Ab");    // 0xE9 is Ŋ in EBU Latin
    EXPECT_EQ(decodeDABText(bytes, 4), "a\u00E9\nb");  // Latin-1 keeps the control
    EXPECT_EQ(decodeDABText(std::vector<std::uint8_t>{0xF0, 0x9F, 0x8E, 0xB5, 'x'}, 15), "\U0001F3B5x");
    // Overlong, surrogate and truncated UTF-8 become replacement characters.
    EXPECT_EQ(decodeDABText(std::vector<std::uint8_t>{0xC0, 0xAF}, 15), "\uFFFD\uFFFD");
    EXPECT_EQ(decodeDABText(std::vector<std::uint8_t>{0xED, 0xA0, 0x80}, 15), "\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(decodeDABText(std::vector<std::uint8_t>{'o', 0xE2, 0x82}, 15), "o\uFFFD\uFFFD");
    EXPECT_EQ(decodeDABText({}, 0), "");
}
