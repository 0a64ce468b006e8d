#pragma once

#include <array>
#include <cstdint>
#include <span>

// Constant tables of the AAC-LC encoder: the Huffman codebooks (generated from the project's
// cross-checked reference data, shared/data/aac_huffman_*.txt, by scripts/gen-aac-tables.py)
// and the long-window scalefactor bands. ISO/IEC 14496-3 subclause 4.5.4 and Annex 4.A.

// A codeword, right-aligned in `length` bits, sent MSB first.
struct AACTxHuffmanCode {
    std::uint32_t code = 0;
    std::uint8_t length = 0;
};

// Index = scalefactor difference + 60, for differences -60..60.
extern const std::array<AACTxHuffmanCode, 121> kAACTxScalefactorCodes;

// Spectrum book 1..11: values per codeword, whether the codeword carries the signs (else one
// sign bit follows per non-zero value), the largest absolute value (16 = escape in book 11).
struct AACTxSpectrumBook {
    int dimension = 0;
    bool isSigned = false;
    int lav = 0;
    std::span<const AACTxHuffmanCode> codes;
};
// An empty book for anything but 1..11.
AACTxSpectrumBook aacTxSpectrumBook(int book);

inline constexpr int kAACTxZeroBook = 0;
inline constexpr int kAACTxEscapeBook = 11;
inline constexpr int kAACTxEscapeLimit = 8191;  // largest magnitude an escape can carry

// Long-window band edges at 48 and 32 kHz with 960-sample frames (49 bands). The 1024-sample
// table at 48 kHz has the same 49 bands, with the last edge at 1024 instead of 960.
inline constexpr std::array<int, 50> kAACTxBandEdges960{
    0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  48,  56,  64,  72,  80,  88,
    96,  108, 120, 132, 144, 160, 176, 196, 216, 240, 264, 292, 320, 352, 384, 416, 448,
    480, 512, 544, 576, 608, 640, 672, 704, 736, 768, 800, 832, 864, 896, 928, 960};
inline constexpr std::array<int, 50> kAACTxBandEdges1024At48kHz = [] {
    std::array<int, 50> edges = kAACTxBandEdges960;
    edges.back() = 1024;
    return edges;
}();
