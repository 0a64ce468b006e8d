#pragma once

#include <array>
#include <optional>
#include <span>
#include <vector>

// Undoes the MSC time interleaving of one sub-channel: bit i of a logical CIF is spread over
// 16 CIFs by the delay map[i mod 16]. Each accepted CIF returns the logical CIF of 15 CIFs
// earlier; the first 15 return nothing. One instance per selected sub-channel, one caller.
class DABTimeDeinterleaver {
public:
    static constexpr int kDepth = 16;
    static constexpr std::array<int, kDepth> map = {0, 8, 4, 12, 2, 10, 6, 14,
                                                    1, 9, 5, 13, 3, 11, 7, 15};

    explicit DABTimeDeinterleaver(int sizeCU);
    DABTimeDeinterleaver(const DABTimeDeinterleaver&) = delete;
    DABTimeDeinterleaver& operator=(const DABTimeDeinterleaver&) = delete;

    // A slice of the wrong length is refused (nothing, no state change).
    std::optional<std::vector<float>> pushCIF(std::span<const float> cif);
    // As above into out (sizeBits values); true when out holds a de-interleaved CIF.
    bool pushCIF(std::span<const float> cif, std::span<float> out);
    void reset();

    int sizeBits() const { return bits; }
    int fills() const { return filled; }

private:
    int bits;
    std::vector<float> buf;  // kDepth slots of `bits` values, slot s at s × bits
    int w = 0;               // slot the next CIF goes to
    int filled = 0;
};
