#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Bit-level channel coding of the DAB transmitter. Bits are one per byte (0 or 1), first
// transmitted bit first. All functions are pure and allocation free.

// Energy dispersal: XORs the PRBS of x^9 + x^5 + 1 (register preset to all ones) onto bits,
// starting the sequence afresh. EN 300 401 clause 10.
void dabTxEnergyDispersal(std::span<std::uint8_t> bits);

// Rate 1/4, constraint length 7 mother code (generators 133, 171, 145, 133 octal), register
// starting at zero and flushed with 6 zero tail bits. out must hold 4·(in.size() + 6) bits.
// Clause 11.1.1.
void dabTxConvolutionalEncode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
inline constexpr std::size_t dabTxCodedLength(std::size_t dataBits) { return 4 * (dataBits + 6); }

// A run of 128-bit blocks (32 data bits each) punctured by one vector PI_vector.
struct DABTxPunctureRun {
    int blocks;
    int vector;  // 1..24
};

// Punctures a coded logical frame: the runs in order, each applying its vector to every 32 coded
// bits, then the 24 tail bits with the tail vector. coded must hold 128·Σblocks + 24 bits.
// Returns the number of bits written to out.
std::size_t dabTxPuncture(std::span<const std::uint8_t> coded, std::span<const DABTxPunctureRun> runs,
                          std::span<std::uint8_t> out);
// How many bits dabTxPuncture keeps.
std::size_t dabTxPuncturedLength(std::span<const DABTxPunctureRun> runs);

// The FIC's runs for one 768-bit block in mode I: 21 blocks at PI_16, 3 at PI_15 (2304 bits out).
inline constexpr DABTxPunctureRun kDABTxFICRuns[] = {{21, 16}, {3, 15}};

// CRC of a FIB: CCITT polynomial x^16 + x^12 + x^5 + 1, register preset to 0xFFFF, result
// complemented as transmitted. Clause 5.2.1.
std::uint16_t dabTxFIBCRC(std::span<const std::uint8_t> bytes);

// MSB-first unpacking of bytes into bits; bits must hold 8·bytes.size().
void dabTxUnpackBits(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> bits);
