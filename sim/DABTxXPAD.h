#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Programme-associated data for DAB+ (EN 300 401 clause 7.4, TS 102 563): variable-size X-PAD
// with contents indicators, carried with the F-PAD in a data stream element at the start of
// each access unit.

// X-PAD application types.
inline constexpr int kDABTxXPADEndMarker = 0;
inline constexpr int kDABTxXPADLengthIndicator = 1;  // data group length indicator
inline constexpr int kDABTxXPADDLSStart = 2;
inline constexpr int kDABTxXPADDLSContinuation = 3;
inline constexpr int kDABTxXPADMOTStart = 12;
inline constexpr int kDABTxXPADMOTContinuation = 13;

enum class DABTxXPADApplication { dynamicLabel, mot };

// Subfield lengths a contents indicator's 3-bit length index selects.
inline constexpr std::size_t kDABTxXPADSubfieldBytes[8] = {4, 6, 8, 12, 16, 24, 32, 48};

// Cuts one data group at a time into the X-PAD of successive access units. Each AU's X-PAD
// starts with its contents indicators (one per subfield, an end marker when fewer than four),
// and each subfield takes the smallest length that finishes the data group, else the largest
// that fits. A MOT data group is preceded by its length indicator. The PAD returned per AU is
// what goes into the data stream element: the X-PAD bytes in reverse order, then the two F-PAD
// bytes (X-PAD indicator "variable size", contents indicator flag). A value type, copied to
// try a schedule out.
class DABTxXPADPacker {
public:
    // maxXPADBytes: the most X-PAD per AU (contents indicators included), at least 11.
    explicit DABTxXPADPacker(std::size_t maxXPADBytes);

    bool isIdle() const { return offset >= group.size(); }
    // Queues a whole data group; only when idle.
    void start(DABTxXPADApplication application, std::vector<std::uint8_t> dataGroup);
    // The PAD of the next AU: just the F-PAD (no X-PAD) when idle.
    std::vector<std::uint8_t> nextPAD();
    std::size_t maxPADBytes() const { return maxXPAD + 2; }

private:
    std::size_t maxXPAD;
    DABTxXPADApplication app = DABTxXPADApplication::dynamicLabel;
    std::vector<std::uint8_t> group;
    std::size_t offset = 0;
    bool lengthSent = false;
};

// The data stream element: id 4, instance tag 0, no byte alignment flag, count (with the escape
// count from 255 on), then the bytes. It starts the raw data block, so it stays byte-aligned.
std::vector<std::uint8_t> dabTxDataStreamElement(std::span<const std::uint8_t> pad);
std::size_t dabTxDataStreamElementBytes(std::size_t padBytes);
