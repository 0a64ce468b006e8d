#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Frequency interleaving of one OFDM symbol (EN 300 401 14.6): which physical carrier carries
// logical bit pair i. Built once, immutable afterwards, so any thread may read it.
class DABFrequencyDeinterleaver {
public:
    struct Config {
        int Tu = 2048;   // FFT size
        int V1 = 511;    // increment of the permutation
        int lwb = 256;   // lowest kept value
        int upb = 1792;  // highest kept value
    };

    // Mode I: (2048, 511, 256, 1792).
    DABFrequencyDeinterleaver();
    explicit DABFrequencyDeinterleaver(Config config);

    int carrierCount() const { return static_cast<int>(permTable.size()); }
    // The physical carrier k (−768…768, never 0 for mode I) of logical index i.
    int physicalCarrier(int logicalIndex) const {
        return permTable[static_cast<std::size_t>(logicalIndex)];
    }
    // Position of that carrier in natural order (−768 … −1, 1 … 768).
    int naturalPosition(int logicalIndex) const {
        return deinterleaveIndex[static_cast<std::size_t>(logicalIndex)];
    }
    // 1536 pairwise different carriers within −768…768, none of them 0.
    bool isValid() const;
    const std::vector<int>& carriers() const { return permTable; }

    // 3072 bits, pairs in natural carrier order → pairs in logical order; any other length is
    // returned unchanged.
    std::vector<std::uint8_t> deinterleave(std::span<const std::uint8_t> bits) const;
    // The inverse.
    std::vector<std::uint8_t> interleave(std::span<const std::uint8_t> bits) const;

private:
    std::vector<int> permTable;
    std::vector<int> deinterleaveIndex;
};
