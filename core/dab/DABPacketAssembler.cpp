#include "dab/DABPacketAssembler.h"

#include <utility>

std::optional<std::vector<std::uint8_t>> DABPacketAssembler::accept(const DABPacket& packet) {
    Bucket& bucket = byAddress[packet.address];
    if (packet.first) {
        bucket.chunks.assign(packet.payload.begin(), packet.payload.end());
        bucket.collecting = true;
    } else {
        if (!bucket.collecting) return std::nullopt;
        bucket.chunks.insert(bucket.chunks.end(), packet.payload.begin(), packet.payload.end());
    }
    if (bucket.chunks.size() > kMaxGroupBytes) {
        // A missed last packet would otherwise let the group grow without bound.
        bucket = Bucket{};
        return std::nullopt;
    }
    if (!packet.last) return std::nullopt;
    std::vector<std::uint8_t> group = std::move(bucket.chunks);
    bucket = Bucket{};
    return group;
}
