#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/DABTxEnsemble.h"
#include "sim/DABTxFIGs.h"

// Builds the fast information channel of mode I transmission frames: 12 FIBs per frame (three
// per CIF) filled from a carousel of the ensemble's FIGs, each FIB closed with an end marker,
// 0xFF padding and its CRC; then energy dispersal, convolutional coding and puncturing per
// 768-bit block, giving the 9216 bits of the three FIC symbols. FIG 0/0 opens every frame with
// the CIF count of the frame's first CIF. One caller at a time.
class DABTxFICEncoder {
public:
    static constexpr std::size_t kFIBBytes = 32;
    static constexpr std::size_t kFIBsPerFrame = 12;
    static constexpr std::size_t kBlockBits = 768;  // three FIBs
    static constexpr std::size_t kCodedBlockBits = 2304;
    static constexpr std::size_t kFrameBits = 4 * kCodedBlockBits;  // 9216
    static constexpr int kCIFsPerFrame = 4;

    explicit DABTxFICEncoder(const DABTxEnsemble& ensemble);
    DABTxFICEncoder(const DABTxFICEncoder&) = delete;
    DABTxFICEncoder& operator=(const DABTxFICEncoder&) = delete;

    // The 12 FIBs of the frame that starts with CIF count cifCount (0..4999); advances the
    // carousel. fibs must hold 12·32 bytes.
    void buildFIBs(int cifCount, std::span<std::uint8_t> fibs);
    // The coded FIC of one frame: fibs (12·32 bytes) to 9216 bits, one per byte.
    void encode(std::span<const std::uint8_t> fibs, std::span<std::uint8_t> bits);
    // Both steps; returns the bits as they go onto symbols 2 to 4.
    void encodeFrame(int cifCount, std::span<std::uint8_t> bits);

    const std::vector<DABTxFIG>& carousel() const { return figs; }
    void reset() { cursor = 0; }

private:
    std::uint16_t eid;
    std::vector<DABTxFIG> figs;  // everything but FIG 0/0, in sending order
    std::size_t cursor = 0;
    std::array<std::uint8_t, kFIBsPerFrame * kFIBBytes> fibScratch{};
    std::array<std::uint8_t, kBlockBits> blockBits{};
    std::array<std::uint8_t, 4 * (kBlockBits + 6)> codedBits{};
};
