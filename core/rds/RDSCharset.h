#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The RDS character table (the older EBU Latin G0 set RDS uses for PS, RT and PTYN) and
// conversion of received bytes to UTF-8. Stateless; any thread.
class RDSCharset {
public:
    // The character of a code 0x20..0xFF (U+FFFD at 0x7F and 0xFF, which have none); no
    // value below 0x20, where RDS only has text controls.
    static std::optional<char32_t> codePoint(std::uint8_t code);

    // The bytes as UTF-8. Line break (0x0A) and end of headline (0x0B) show as a space, the
    // soft hyphen (0x1F) and other codes below 0x20 show as nothing.
    static std::string toUTF8(std::span<const std::uint8_t> codes);
};
