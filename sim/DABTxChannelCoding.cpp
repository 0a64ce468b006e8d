#include "sim/DABTxChannelCoding.h"

#include <bit>
#include <cassert>

#include "sim/DABTxTables.h"

void dabTxEnergyDispersal(std::span<std::uint8_t> bits) {
    std::uint32_t reg = 0x1FF;  // 9 stages, stage 1 in bit 0
    for (std::uint8_t& b : bits) {
        const std::uint32_t out = ((reg >> 4) ^ (reg >> 8)) & 1u;  // stages 5 and 9
        reg = ((reg << 1) | out) & 0x1FF;
        b ^= static_cast<std::uint8_t>(out);
    }
}

void dabTxConvolutionalEncode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    assert(out.size() >= dabTxCodedLength(in.size()));
    // Bit 6 of the generator taps the newest bit a_i, bit 0 the oldest a_{i-6}.
    constexpr std::uint32_t kGenerators[4] = {0133, 0171, 0145, 0133};
    std::uint32_t reg = 0;  // bit 6 = a_i, ..., bit 0 = a_{i-6}
    std::size_t o = 0;
    const std::size_t total = in.size() + 6;
    for (std::size_t i = 0; i < total; ++i) {
        const std::uint32_t a = i < in.size() ? (in[i] & 1u) : 0u;
        reg = (reg >> 1) | (a << 6);
        for (std::uint32_t g : kGenerators)
            out[o++] = static_cast<std::uint8_t>(std::popcount(reg & g) & 1);
    }
}

std::size_t dabTxPuncture(std::span<const std::uint8_t> coded, std::span<const DABTxPunctureRun> runs,
                          std::span<std::uint8_t> out) {
    std::size_t in = 0, o = 0;
    const auto apply = [&](std::uint32_t vector, int length) {
        for (int b = length - 1; b >= 0; --b, ++in)
            if ((vector >> b) & 1u) out[o++] = coded[in];
    };
    for (const DABTxPunctureRun& run : runs) {
        assert(run.vector >= 1 && run.vector <= 24);
        for (int k = 0; k < 4 * run.blocks; ++k) apply(kDABTxPunctureVectors[run.vector - 1], 32);
    }
    apply(kDABTxTailPuncture, 24);
    assert(in <= coded.size() && o <= out.size());
    return o;
}

std::size_t dabTxPuncturedLength(std::span<const DABTxPunctureRun> runs) {
    std::size_t n = 12;
    for (const DABTxPunctureRun& run : runs)
        n += static_cast<std::size_t>(run.blocks) * 4 *
             static_cast<std::size_t>(std::popcount(kDABTxPunctureVectors[run.vector - 1]));
    return n;
}

std::uint16_t dabTxFIBCRC(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : bytes) {
        crc ^= static_cast<std::uint16_t>(byte << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

void dabTxUnpackBits(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> bits) {
    assert(bits.size() >= 8 * bytes.size());
    for (std::size_t k = 0; k < bytes.size(); ++k)
        for (int b = 0; b < 8; ++b) bits[8 * k + static_cast<std::size_t>(b)] = (bytes[k] >> (7 - b)) & 1u;
}
