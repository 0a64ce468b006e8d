#include "dab/DABPacket.h"

#include "dab/DABCRC16.h"

std::optional<DABPacket> DABPacket::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes + kCRCBytes) return std::nullopt;
    const std::size_t L = lengthOf(bytes[0]);
    if (bytes.size() < L) return std::nullopt;
    const int n = bytes[2] & 0x7F;
    if (static_cast<std::size_t>(n) + kHeaderBytes + kCRCBytes > L) return std::nullopt;

    DABPacket p;
    p.lengthCode = static_cast<LengthCode>(bytes[0] >> 6);
    p.continuity = static_cast<std::uint8_t>((bytes[0] >> 4) & 0x03);
    p.first = (bytes[0] & 0x08) != 0;
    p.last = (bytes[0] & 0x04) != 0;
    p.address = static_cast<std::uint16_t>(((bytes[0] & 0x03) << 8) | bytes[1]);
    p.command = (bytes[2] & 0x80) != 0;
    p.usefulDataLength = n;
    p.payload.assign(bytes.begin() + kHeaderBytes,
                     bytes.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes + n));
    p.crcOK = DABCRC16::verifyIncludingTrailer(bytes.first(L));
    return p;
}
