#pragma once

#include <array>
#include <cstdint>
#include <span>

// Reed-Solomon RS(120, 110) of DAB+ super-frames: RS(255, 245) over GF(2^8) with the field
// polynomial x^8 + x^4 + x^3 + x^2 + 1, shortened by 135 leading zero bytes; the generator has
// the roots α^0 .. α^9, so it corrects up to 5 byte errors (ETSI TS 102 563).
class DABPlusRSEncoder {
public:
    static constexpr int kDataBytes = 110;
    static constexpr int kParityBytes = 10;

    DABPlusRSEncoder();
    // The 10 parity bytes of a 110-byte message, highest-degree coefficient first.
    void encode(std::span<const std::uint8_t, kDataBytes> data,
                std::span<std::uint8_t, kParityBytes> parity) const;

    // GF(2^8) arithmetic over the same field, for tests' syndromes.
    std::uint8_t multiply(std::uint8_t a, std::uint8_t b) const;
    std::uint8_t power(int exponent) const;  // α^exponent

private:
    std::array<std::uint8_t, 512> exp{};  // doubled so log sums need no modulo
    std::array<int, 256> log{};
    std::array<std::uint8_t, kParityBytes + 1> generator{};  // g_0 .. g_10 (monic)
};
