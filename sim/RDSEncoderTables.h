#pragma once

#include <array>
#include <string>
#include <string_view>

// Character table of the RDS transmitter: code 0x20 + i is the Unicode character
// kRDSTxCharacters[i] (IEC 62106 Annex E, the G0 table as RDS uses it). U+FFFD marks the two
// codes without a character, 0x7F and 0xFF.
extern const std::array<char32_t, 224> kRDSTxCharacters;

// UTF-8 text as RDS bytes, one byte per character. Characters without a code, malformed
// UTF-8 and control characters become '?'; Đ (U+0110), which has no code, is sent as 0xCE
// (Ð, the same glyph). With keepRadioTextControls, the RadioText control codes 0x0A, 0x0B,
// 0x0D and 0x1F pass through.
std::string rdsBytesFromUTF8(std::string_view utf8, bool keepRadioTextControls = false);

// The RDS code of one character, or 0 when it has none.
unsigned char rdsCodeFor(char32_t character);
