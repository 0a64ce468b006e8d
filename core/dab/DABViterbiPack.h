#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dab/DABViterbi.h"

// Depunctured mother-code soft values of one CIF (positive = code bit 0) to the sub-channel's
// bytes: scale to ±127 metrics, Viterbi-decode, remove the energy dispersal (x^9 + x^5 + 1,
// all ones at the start of every CIF) and pack MSB first. Scratch is kept between calls, so
// one instance per worker; one caller at a time.
class DABViterbiPack {
public:
    static constexpr int kMetricScale = 127;

    DABViterbiPack() = default;
    DABViterbiPack(const DABViterbiPack&) = delete;
    DABViterbiPack& operator=(const DABViterbiPack&) = delete;

    // Decodes blockLength bits into out ((blockLength + 7) / 8 bytes); false when fewer than
    // 4 × (blockLength + 6) soft values are given.
    bool pack(std::span<const float> soft, int blockLength, std::span<std::uint8_t> out);

    // Soft values to metrics: nearest integer to 127 · v / max|v|, sign kept (positive = bit
    // 0). An all-zero input (max ≤ 1e−12) is scaled by 127 itself, without dividing.
    static void toMetrics(std::span<const float> soft, std::span<int> metrics);
    // The data bits a depunctured CIF of `count` values carries: count / 4 − 6.
    static int blockLengthFor(std::size_t depuncturedCount);

private:
    DABViterbi viterbi;
    std::vector<int> metrics;
    std::vector<std::uint8_t> bits;
};

// blockLength / 8 bytes, or empty when blockLength is not a positive multiple of 8 or the
// soft values are too few.
std::vector<std::uint8_t> viterbiPack(std::span<const float> soft, int blockLength);
// (blockLength + 7) / 8 bytes (the last one padded with zero bits), or nothing.
std::optional<std::vector<std::uint8_t>> viterbiPackGeneric(std::span<const float> soft, int blockLength);
