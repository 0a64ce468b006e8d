#pragma once

#include <cstdint>
#include <span>
#include <string>

// Text of DAB labels and dynamic labels: charset 0 through the EBU Latin table (DAB
// column, codes 0x01–0xFF), 4 as ISO 8859-1, 15 as UTF-8. Returns UTF-8.
std::string decodeDABText(std::span<const std::uint8_t> bytes, int charset);
// The Unicode code point of one charset-0 byte (0 for 0x00).
char32_t dabCharsetCodePoint(std::uint8_t byte);
