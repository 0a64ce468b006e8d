#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// One packet of a packet-mode sub-channel (EN 300 401 clause 5.3.2): a 3-byte header
// (length code, continuity index, first/last flags, 10-bit address, command 0, useful data
// length), the useful data, zero padding and the packet CRC over all of it.
struct DABTxPacketFields {
    int lengthBytes = 24;  // 24, 48, 72 or 96
    int continuityIndex = 0;  // 2 bits, per address
    bool isFirst = false;     // first packet of a data group
    bool isLast = false;      // last packet of a data group
    int address = 0;          // 10 bits; 0 is a padding packet
};

inline constexpr int kDABTxPacketOverheadBytes = 5;  // header and CRC

// Writes the packet into out (lengthBytes long); useful holds at most lengthBytes - 5 bytes.
void dabTxPacket(const DABTxPacketFields& fields, std::span<const std::uint8_t> useful,
                 std::span<std::uint8_t> out);

struct DABTxPacketizerConfig {
    int address = 1;
    int bitrateKbps = 16;  // the sub-channel's; a logical frame is 3 bytes per kbit/s
};

// A packet-mode sub-channel source sending a list of data groups over and over (a carousel).
// Each logical frame (24 ms) is filled with whole packets: the smallest length that finishes
// the current data group, else the largest that fits what is left of the frame, and padding
// packets (address 0, no useful data) when the list is empty. One caller at a time.
class DABTxPacketizer {
public:
    DABTxPacketizer(const DABTxPacketizerConfig& config, std::vector<std::vector<std::uint8_t>> dataGroups);
    DABTxPacketizer(const DABTxPacketizer&) = delete;
    DABTxPacketizer& operator=(const DABTxPacketizer&) = delete;

    std::size_t frameBytes() const { return frame.size(); }
    // The next logical frame as bytes (frameBytes() long) ...
    void fillFrameBytes(std::span<std::uint8_t> bytes);
    // ... or as data bits, one per byte, MSB first (8·frameBytes() of them).
    void fillLogicalFrame(std::span<std::uint8_t> dataBits);
    void reset();
    // Logical frames until the first lap of the carousel is out, from the start (1 when empty).
    std::size_t lapFrames();

private:
    int address;
    std::vector<std::vector<std::uint8_t>> groups;
    std::vector<std::uint8_t> frame;
    std::size_t group = 0;   // the data group in flight
    std::size_t offset = 0;  // bytes of it already sent
    int continuity = 0;
    std::size_t laps = 0;  // times the list wrapped around
};
