#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "dab/DABPacket.h"

// Finds packets in the continuous byte stream of one packet-mode sub-channel. Bytes that do
// not start a packet with a good CRC are skipped one at a time; a packet cut by the end of the
// input waits for the next call. At most maxBuffer bytes are kept (the newest). One caller.
class DABPacketStreamReader {
public:
    explicit DABPacketStreamReader(std::size_t maxBuffer = 4096);
    DABPacketStreamReader(const DABPacketStreamReader&) = delete;
    DABPacketStreamReader& operator=(const DABPacketStreamReader&) = delete;

    // New bytes in; the packets found, in stream order.
    std::vector<DABPacket> append(std::span<const std::uint8_t> bytes);
    void reset();

    std::size_t bufferedBytes() const { return buffer.size(); }
    int noneFoundCount() const { return noneFound; }
    int diagTotal() const { return diagCount; }
    const std::map<int, int>& shiftHistogram() const { return shifts; }

private:
    // A 48-byte packet on address 1 with 43 useful bytes is taken even with a bad CRC: one
    // transmitter's logo channel is known to send them; the pipeline still drops it on its
    // CRC, but stepping over it keeps the reader aligned.
    static bool isAlignmentProbe(const DABPacket& p);
    void probeAlignment(std::size_t p);

    std::vector<std::uint8_t> buffer;
    std::size_t maxBuffer;
    std::map<int, int> shifts;  // shift → count: where a good 48-byte packet was found instead
    int noneFound = 0;
    int diagCount = 0;
};
