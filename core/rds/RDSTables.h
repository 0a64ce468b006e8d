#pragma once

#include <cstdint>
#include <string_view>

// Name tables for what RDS sends as numbers: programme type, country (PI country symbol plus
// extended country code), language and RadioText+ content type. Each lookup returns an empty
// view for a code the table does not hold, so callers can leave the field out.

// English name of a programme type of the European (RDS, not RBDS) list, 0..31.
std::string_view rdsPTYName(int pty);

// Lower-case ISO 3166-1 alpha-2 code for the country symbol in bits 15..12 of `pi` together
// with the extended country code of group 1A (0xA0..0xA6, 0xD0..0xD4, 0xE0..0xE4, 0xF0..0xF4).
std::string_view rdsCountryCode(std::uint16_t pi, std::uint8_t extendedCountryCode);

// English name of a language code from group 1A variant 3 (0x00 "Unknown" .. 0x2B "Walloon").
std::string_view rdsLanguageName(int languageCode);

// Name of a RadioText+ content type, 0..63, as RT+ tools print it ("item.title", "info.url").
// DAB's DL Plus uses the same numbering, so the DAB side can share it.
std::string_view rdsRadioTextPlusContentTypeName(int contentType);
