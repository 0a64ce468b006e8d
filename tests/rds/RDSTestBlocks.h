#pragma once

// Test bit streams built block by block, independently of the decoder and the simulator:
// checkword = m(x) x^10 mod g(x), plus the offset word.

#include <cstdint>
#include <random>
#include <vector>

namespace rdstest {

constexpr std::uint16_t kOffsetA = 0x0FC, kOffsetB = 0x198, kOffsetC = 0x168, kOffsetCPrime = 0x350,
                        kOffsetD = 0x1B4;

inline std::uint32_t encodeBlock(std::uint16_t info, std::uint16_t offsetWord) {
    std::uint32_t remainder = static_cast<std::uint32_t>(info) << 10;
    for (int bit = 25; bit >= 10; --bit) {
        if (remainder & (1U << bit)) remainder ^= 0x5B9U << (bit - 10);
    }
    return (static_cast<std::uint32_t>(info) << 10) | ((remainder & 0x3FF) ^ offsetWord);
}

inline void appendWord(std::vector<int>& bits, std::uint32_t word) {
    for (int i = 25; i >= 0; --i) bits.push_back(static_cast<int>((word >> i) & 1U));
}

// One group; version B (bit 11 of block B) puts C' on the third block.
inline std::vector<int> group(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
    std::vector<int> bits;
    appendWord(bits, encodeBlock(a, kOffsetA));
    appendWord(bits, encodeBlock(b, kOffsetB));
    appendWord(bits, encodeBlock(c, (b & 0x0800) ? kOffsetCPrime : kOffsetC));
    appendWord(bits, encodeBlock(d, kOffsetD));
    return bits;
}

inline std::uint16_t blockB(int type, bool versionB, int pty, int low5, bool tp = false) {
    return static_cast<std::uint16_t>((type << 12) | (versionB ? 0x0800 : 0) | (tp ? 0x0400 : 0) |
                                      (pty << 5) | low5);
}

inline std::uint16_t pair(std::uint8_t hi, std::uint8_t lo) {
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

inline std::vector<int> randomBits(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int> bits(n);
    for (int& b : bits) b = static_cast<int>(rng() & 1U);
    return bits;
}

}  // namespace rdstest
