#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "dab/DABPacket.h"

// Joins the payloads of consecutive packets of one address, from a packet with the first flag
// to one with the last flag, into an MSC data group. Lost packets are not detected here; the
// group's own CRC catches them. One caller.
class DABPacketAssembler {
public:
    // Bytes one address may collect before its group is given up (a data group holds at most
    // 8191 bytes, plus header and CRC).
    static constexpr std::size_t kMaxGroupBytes = 8192 + 64;

    DABPacketAssembler() = default;
    DABPacketAssembler(const DABPacketAssembler&) = delete;
    DABPacketAssembler& operator=(const DABPacketAssembler&) = delete;

    // One packet in; a complete data group out, or nothing.
    std::optional<std::vector<std::uint8_t>> accept(const DABPacket& packet);
    void reset() { byAddress.clear(); }

private:
    struct Bucket {
        std::vector<std::uint8_t> chunks;  // the payloads so far, already concatenated
        bool collecting = false;
    };
    std::map<std::uint16_t, Bucket> byAddress;
};
