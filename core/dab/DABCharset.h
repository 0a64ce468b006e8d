#pragma once

#include <cstdint>
#include <span>
#include <string>

// Text of DAB labels and dynamic labels: charset 0 through the EBU Latin table (DAB
// column, codes 0x01–0xFF), 4 as ISO 8859-1, 15 as UTF-8; any other charset is read as
// charset 0. Returns UTF-8. Codes without a character (0x00, and in charset 0 also 0x0A,
// 0x0B, 0x1F) are skipped; malformed UTF-8 becomes U+FFFD.
std::string decodeDABText(std::span<const std::uint8_t> bytes, int charset);
// The Unicode code point of one charset-0 byte (0 for a code without a character).
char32_t dabCharsetCodePoint(std::uint8_t byte);
// Appends one code point as UTF-8.
void appendUTF8(std::string& out, char32_t codePoint);
