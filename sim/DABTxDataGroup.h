#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// MSC data groups (EN 300 401 clause 5.3.3), the unit that packet mode and X-PAD carry MOT
// objects in: a 2-byte header, an optional session header, the data field and a CRC.

// Session header's segment field: the last flag and a 15-bit segment number.
struct DABTxSegmentField {
    bool isLast = false;
    int number = 0;
    bool operator==(const DABTxSegmentField&) const = default;
};

struct DABTxDataGroupHeader {
    int type = 0;             // 3 MOT header, 4 MOT body, 6 MOT directory
    int continuityIndex = 0;  // 4 bits
    int repetitionIndex = 0;  // 4 bits; 0 when no repetition is announced
    std::optional<DABTxSegmentField> segment;  // sets the segment flag
    std::optional<std::uint16_t> transportId;  // sets the user access flag; no end user address
    bool hasCRC = true;
    bool operator==(const DABTxDataGroupHeader&) const = default;
};

// The whole data group, CRC included when hasCRC. No extension field is sent.
std::vector<std::uint8_t> dabTxDataGroup(const DABTxDataGroupHeader& header,
                                         std::span<const std::uint8_t> dataField);

// The CRC of data groups, packets, dynamic label segments and the X-PAD length indicator:
// x^16 + x^12 + x^5 + 1, register starting at all ones, sent complemented (high byte first).
std::uint16_t dabTxCRC16(std::span<const std::uint8_t> bytes);
// Appends dabTxCRC16 of everything in `bytes` so far.
void dabTxAppendCRC16(std::vector<std::uint8_t>& bytes);
