#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// The DAB+ superframe code: RS(120, 110) over GF(2^8) (x^8 + x^4 + x^3 + x^2 + 1, α = 2), the
// (255, 245) code shortened by 135 leading zero bytes, generator roots α^0 … α^9; corrects up
// to five byte errors. Stateless; the field tables are built once.
class DABReedSolomon {
public:
    static constexpr int kCodewordBytes = 120;
    static constexpr int kDataBytes = 110;
    static constexpr int kParityBytes = 10;

    // 110 corrected data bytes, or nothing when the word is not 120 bytes or cannot be
    // corrected (including a correction that would land in the shortened zero part).
    static std::optional<std::array<std::uint8_t, kDataBytes>> decodeCodeword(std::span<const std::uint8_t> word);
    // As above into data (110 bytes); false leaves data untouched.
    static bool decodeCodeword(std::span<const std::uint8_t> word, std::span<std::uint8_t> data);
    // Systematic encoding: the 110 data bytes followed by the 10 parity bytes.
    static std::array<std::uint8_t, kCodewordBytes> encodeCodeword(std::span<const std::uint8_t, kDataBytes> data);
};
