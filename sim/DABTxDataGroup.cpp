#include "sim/DABTxDataGroup.h"

#include <cassert>

std::uint16_t dabTxCRC16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        crc ^= static_cast<std::uint16_t>(b << 8);
        for (int k = 0; k < 8; ++k)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

void dabTxAppendCRC16(std::vector<std::uint8_t>& bytes) {
    const std::uint16_t crc = dabTxCRC16(bytes);
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    bytes.push_back(static_cast<std::uint8_t>(crc));
}

std::vector<std::uint8_t> dabTxDataGroup(const DABTxDataGroupHeader& h,
                                         std::span<const std::uint8_t> dataField) {
    assert(h.type >= 0 && h.type < 16);
    std::vector<std::uint8_t> g;
    g.reserve(dataField.size() + 9);
    // Extension flag 0, CRC flag, segment flag, user access flag, type.
    g.push_back(static_cast<std::uint8_t>((h.hasCRC ? 0x40 : 0) | (h.segment ? 0x20 : 0) |
                                          (h.transportId ? 0x10 : 0) | (h.type & 0x0F)));
    g.push_back(static_cast<std::uint8_t>((h.continuityIndex & 0x0F) << 4 | (h.repetitionIndex & 0x0F)));
    if (h.segment) {
        assert(h.segment->number >= 0 && h.segment->number < 0x8000);
        const int field = (h.segment->isLast ? 0x8000 : 0) | h.segment->number;
        g.push_back(static_cast<std::uint8_t>(field >> 8));
        g.push_back(static_cast<std::uint8_t>(field));
    }
    if (h.transportId) {
        // Rfa 000, transport id flag 1, length indicator 2 (the id, no end user address).
        g.push_back(0x12);
        g.push_back(static_cast<std::uint8_t>(*h.transportId >> 8));
        g.push_back(static_cast<std::uint8_t>(*h.transportId));
    }
    g.insert(g.end(), dataField.begin(), dataField.end());
    if (h.hasCRC) dabTxAppendCRC16(g);
    return g;
}
