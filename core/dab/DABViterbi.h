#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// Rate 1/4, constraint length 7 decoder for the DAB mother code (generators 133, 171, 145,
// 133 octal). Soft input: positive = code bit 0, negative = code bit 1, 0 = unknown. Integer
// soft values are clamped to ±32767. Lower path metrics are better; ties take the odd
// predecessor. Holds only constant tables, so one instance may be shared by sequential callers
// and used from several threads at once.
class DABViterbi {
public:
    static constexpr int K = 7;
    static constexpr int numStates = 64;
    static constexpr int poly1 = 0133, poly2 = 0171, poly3 = 0145, poly4 = 0133;

    DABViterbi();
    // Decodes blockLength bits from 4·(blockLength + 6) soft values; empty when fewer given.
    std::vector<std::uint8_t> deconvolve(std::span<const float> soft, int blockLength) const;
    std::vector<std::uint8_t> deconvolve(std::span<const int> soft, int blockLength) const;
    // As above into out (at least blockLength entries); false, out untouched, when too few soft
    // values are given. Allocates only the decision matrix (one 64-bit word per step).
    bool deconvolve(std::span<const float> soft, int blockLength, std::span<std::uint8_t> out) const;
    bool deconvolve(std::span<const int> soft, int blockLength, std::span<std::uint8_t> out) const;
    // The 4-bit code word of a 7-bit register value (bit 6 newest).
    int codeWord(int reg) const { return indexTable[reg & 0x7F]; }

private:
    template <typename Soft, typename Metric>
    bool run(std::span<const Soft> soft, int blockLength, std::span<std::uint8_t> out) const;

    std::array<std::uint8_t, 128> indexTable{};
    // Butterfly j (states j and j + 32, predecessors 2j and 2j + 1): the sign (±1) with which
    // soft value k enters the branch metric from 2j into j. The other three branches of the
    // butterfly carry the complemented code word, so their metric is the negation.
    std::array<std::array<int, numStates / 2>, 4> branchSign{};
};
