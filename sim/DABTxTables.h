#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Constant tables of the DAB transmitter, transcribed from the project's cross-checked reference
// data (shared/data); the tests compare every entry with those files. Mode I throughout.

// Phase reference symbol: for each run of 32 carriers starting at kMin (k' = kMin), the row i of
// the h table and the extra quarter turns n. EN 300 401 clause 14.3.2.
struct DABTxPRSRun {
    int kMin;
    int i;
    int n;
};
inline constexpr std::array<DABTxPRSRun, 48> kDABTxPRSRuns{{
    {-768, 0, 1}, {-736, 1, 2}, {-704, 2, 0}, {-672, 3, 1}, {-640, 0, 3}, {-608, 1, 2},
    {-576, 2, 2}, {-544, 3, 3}, {-512, 0, 2}, {-480, 1, 1}, {-448, 2, 2}, {-416, 3, 3},
    {-384, 0, 1}, {-352, 1, 2}, {-320, 2, 3}, {-288, 3, 3}, {-256, 0, 2}, {-224, 1, 2},
    {-192, 2, 2}, {-160, 3, 1}, {-128, 0, 1}, {-96, 1, 3},  {-64, 2, 1},  {-32, 3, 2},
    {1, 0, 3},    {33, 3, 1},   {65, 2, 1},   {97, 1, 1},   {129, 0, 2},  {161, 3, 2},
    {193, 2, 1},  {225, 1, 0},  {257, 0, 2},  {289, 3, 2},  {321, 2, 3},  {353, 1, 3},
    {385, 0, 0},  {417, 3, 2},  {449, 2, 1},  {481, 1, 3},  {513, 0, 3},  {545, 3, 3},
    {577, 2, 3},  {609, 1, 0},  {641, 0, 3},  {673, 3, 0},  {705, 2, 1},  {737, 1, 1},
}};

// h(i, j) in quarter turns, clause 14.3.2.
inline constexpr std::array<std::array<std::uint8_t, 32>, 4> kDABTxPRSH{{
    {0, 2, 0, 0, 0, 0, 1, 1, 2, 0, 0, 0, 2, 2, 1, 1, 0, 2, 0, 0, 0, 0, 1, 1, 2, 0, 0, 0, 2, 2, 1, 1},
    {0, 3, 2, 3, 0, 1, 3, 0, 2, 1, 2, 3, 2, 3, 3, 0, 0, 3, 2, 3, 0, 1, 3, 0, 2, 1, 2, 3, 2, 3, 3, 0},
    {0, 0, 0, 2, 0, 2, 1, 3, 2, 2, 0, 2, 2, 0, 1, 3, 0, 0, 0, 2, 0, 2, 1, 3, 2, 2, 0, 2, 2, 0, 1, 3},
    {0, 1, 2, 1, 0, 3, 3, 2, 2, 3, 2, 1, 2, 1, 3, 2, 0, 1, 2, 1, 0, 3, 3, 2, 2, 3, 2, 1, 2, 1, 3, 2},
}};

// Puncturing vectors PI_1..PI_24 (index k-1), 32 bits with the first coded bit in the MSB; a set
// bit is transmitted. Clause 11.1.2.
inline constexpr std::array<std::uint32_t, 24> kDABTxPunctureVectors{
    0xC8888888, 0xC888C888, 0xC8C8C888, 0xC8C8C8C8, 0xCCC8C8C8, 0xCCC8CCC8,
    0xCCCCCCC8, 0xCCCCCCCC, 0xECCCCCCC, 0xECCCECCC, 0xECECECCC, 0xECECECEC,
    0xEEECECEC, 0xEEECEEEC, 0xEEEEEEEC, 0xEEEEEEEE, 0xFEEEEEEE, 0xFEEEFEEE,
    0xFEFEFEEE, 0xFEFEFEFE, 0xFFFEFEFE, 0xFFFEFFFE, 0xFFFFFFFE, 0xFFFFFFFF};
// The 24 coded tail bits: 1100 six times, MSB first.
inline constexpr std::uint32_t kDABTxTailPuncture = 0xCCCCCC;

// Short-form (UEP) sub-channel table, indexed by the 6-bit table index. Clause 6.2.1.
struct DABTxUEPEntry {
    int sizeCU;
    int protectionLevel;
    int bitrateKbps;
};
inline constexpr std::array<DABTxUEPEntry, 64> kDABTxUEPTable{{
    {16, 5, 32},   {21, 4, 32},   {24, 3, 32},   {29, 2, 32},   {35, 1, 32},   {24, 5, 48},
    {29, 4, 48},   {35, 3, 48},   {42, 2, 48},   {52, 1, 48},   {29, 5, 56},   {35, 4, 56},
    {42, 3, 56},   {52, 2, 56},   {32, 5, 64},   {42, 4, 64},   {48, 3, 64},   {58, 2, 64},
    {70, 1, 64},   {40, 5, 80},   {52, 4, 80},   {58, 3, 80},   {70, 2, 80},   {84, 1, 80},
    {48, 5, 96},   {58, 4, 96},   {70, 3, 96},   {84, 2, 96},   {104, 1, 96},  {58, 5, 112},
    {70, 4, 112},  {84, 3, 112},  {104, 2, 112}, {64, 5, 128},  {84, 4, 128},  {96, 3, 128},
    {116, 2, 128}, {140, 1, 128}, {80, 5, 160},  {104, 4, 160}, {116, 3, 160}, {140, 2, 160},
    {168, 1, 160}, {96, 5, 192},  {116, 4, 192}, {140, 3, 192}, {168, 2, 192}, {208, 1, 192},
    {116, 5, 224}, {140, 4, 224}, {168, 3, 224}, {208, 2, 224}, {232, 1, 224}, {128, 5, 256},
    {168, 4, 256}, {192, 3, 256}, {232, 2, 256}, {280, 1, 256}, {160, 5, 320}, {208, 4, 320},
    {280, 2, 320}, {192, 5, 384}, {280, 3, 384}, {416, 1, 384},
}};

// EEP-A profile for a level (1..4) and n = bit rate / 8 kbit/s: size and the two puncturing runs.
// Clause 11.3.2, including the 8 kbit/s case of 2-A.
struct DABTxEEPProfile {
    int sizeCU;
    int l1Blocks;
    int pi1;
    int l2Blocks;
    int pi2;
};
DABTxEEPProfile dabTxEEPAProfile(int level, int n);
// Capacity units per 8 kbit/s at EEP level 1..4 (A profiles): 12, 8, 6, 4.
int dabTxEEPACUPerN(int level);

// Charset 0 (complete EBU Latin repertoire): Unicode code point of byte 0x20 + index.
extern const std::array<char16_t, 224> kDABTxCharset0;

// The quarter-turn phase index of carrier k (-768..768, k != 0) of the phase reference symbol.
int dabTxPRSQuarterTurns(int k);

// UTF-8 to charset 0 bytes. Capital D with stroke (U+0110), absent from the set, goes out as 0xCE
// (ETH, the same glyph); characters the set lacks become '?'.
std::string dabTxEncodeCharset0(std::string_view utf8);
