#pragma once

#include <cstdint>
#include <span>

// 64-bit FNV-1a: tells a repeated block of bytes (a superframe, a slide, a logo) from a new one.
inline std::uint64_t fnv1a64(std::span<const std::uint8_t> bytes) {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (const std::uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ULL;
    return h;
}
