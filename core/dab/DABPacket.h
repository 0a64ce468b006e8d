#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// One packet of a packet-mode sub-channel (EN 300 401 clause 5.3.2): 24, 48, 72 or 96 bytes,
// a 3-byte header, the useful data, padding and a 2-byte CRC over the whole packet.
struct DABPacket {
    enum class LengthCode : std::uint8_t { b24 = 0, b48 = 1, b72 = 2, b96 = 3 };
    static constexpr std::size_t kHeaderBytes = 3;
    static constexpr std::size_t kCRCBytes = 2;

    LengthCode lengthCode = LengthCode::b24;
    std::uint8_t continuity = 0;  // 0…3
    bool first = false;
    bool last = false;
    std::uint16_t address = 0;  // 0…1023
    bool command = false;
    int usefulDataLength = 0;  // 0…127
    std::vector<std::uint8_t> payload;
    bool crcOK = false;

    // Bytes starting at a packet → the packet (also one whose CRC fails), or nothing when the
    // bytes are too few or the useful data does not fit the packet.
    static std::optional<DABPacket> parse(std::span<const std::uint8_t> bytes);
    // Whole packet length in bytes from the first header byte.
    static std::size_t lengthOf(std::uint8_t firstByte) { return 24U * ((firstByte >> 6) + 1U); }
    std::size_t lengthBytes() const { return 24U * (static_cast<unsigned>(lengthCode) + 1U); }

    bool operator==(const DABPacket&) const = default;
};
