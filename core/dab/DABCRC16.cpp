#include "dab/DABCRC16.h"

#include <array>

namespace {

// EN 300 401 5.2.1: generator x^16 + x^12 + x^5 + 1, processed MSB first.
constexpr std::array<std::uint16_t, 256> kCRCTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        auto crc = static_cast<std::uint16_t>(b << 8);
        for (int k = 0; k < 8; ++k) {
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[static_cast<std::size_t>(b)] = crc;
    }
    return table;
}();

// Register value after running the complemented trailer of a correct block through the CRC.
constexpr std::uint16_t kGoodResidue = 0x1D0F;

}  // namespace

std::uint16_t DABCRC16::compute(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCRCTable[((crc >> 8) ^ byte) & 0xFF]);
    }
    return crc;
}

bool DABCRC16::verifyIncludingTrailer(std::span<const std::uint8_t> data) {
    if (data.size() < 2) return false;
    if (compute(data) == kGoodResidue) return true;
    const std::size_t n = data.size() - 2;
    const auto trailer = static_cast<std::uint16_t>((data[n] << 8) | data[n + 1]);
    return static_cast<std::uint16_t>(~compute(data.first(n))) == trailer;
}
