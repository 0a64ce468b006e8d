#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

// Writes MSB-first bit fields into a caller's byte buffer, which must be zeroed and large enough
// (asserted). Used for AAC access units and DAB+ super-frame headers.
class AACTxBitWriter {
public:
    explicit AACTxBitWriter(std::span<std::uint8_t> buffer) : bytes(buffer) {}

    // The low `count` bits of value (count <= 32), most significant first.
    void put(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            assert(position / 8 < bytes.size());
            if ((value >> i) & 1u)
                bytes[position / 8] |= static_cast<std::uint8_t>(0x80u >> (position % 8));
            ++position;
        }
    }
    void alignToByte() { position = (position + 7) / 8 * 8; }
    std::size_t bitCount() const { return position; }
    std::size_t byteCount() const { return (position + 7) / 8; }

private:
    std::span<std::uint8_t> bytes;
    std::size_t position = 0;
};
