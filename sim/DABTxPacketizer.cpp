#include "sim/DABTxPacketizer.h"

#include <algorithm>
#include <array>
#include <cassert>

#include "sim/DABTxDataGroup.h"

namespace {
constexpr std::array<int, 4> kPacketLengths{24, 48, 72, 96};

// Smallest length carrying `remaining` bytes within `room`, else the largest within `room`.
int chooseLength(std::size_t remaining, std::size_t room) {
    int best = 0;
    for (const int len : kPacketLengths) {
        if (static_cast<std::size_t>(len) > room) break;
        best = len;
        if (static_cast<std::size_t>(len - kDABTxPacketOverheadBytes) >= remaining) break;
    }
    return best;
}
}  // namespace

void dabTxPacket(const DABTxPacketFields& f, std::span<const std::uint8_t> useful,
                 std::span<std::uint8_t> out) {
    const auto code = static_cast<int>(std::find(kPacketLengths.begin(), kPacketLengths.end(), f.lengthBytes) -
                                       kPacketLengths.begin());
    assert(code < 4 && out.size() == static_cast<std::size_t>(f.lengthBytes));
    assert(useful.size() <= static_cast<std::size_t>(f.lengthBytes - kDABTxPacketOverheadBytes));
    out[0] = static_cast<std::uint8_t>(code << 6 | (f.continuityIndex & 3) << 4 | (f.isFirst ? 0x08 : 0) |
                                       (f.isLast ? 0x04 : 0) | ((f.address >> 8) & 3));
    out[1] = static_cast<std::uint8_t>(f.address);
    out[2] = static_cast<std::uint8_t>(useful.size() & 0x7F);  // command bit 0: data
    std::copy(useful.begin(), useful.end(), out.begin() + 3);
    const std::size_t crcAt = out.size() - 2;
    std::fill(out.begin() + 3 + static_cast<std::ptrdiff_t>(useful.size()),
              out.begin() + static_cast<std::ptrdiff_t>(crcAt), std::uint8_t{0});
    const std::uint16_t crc = dabTxCRC16(out.first(crcAt));
    out[crcAt] = static_cast<std::uint8_t>(crc >> 8);
    out[crcAt + 1] = static_cast<std::uint8_t>(crc);
}

DABTxPacketizer::DABTxPacketizer(const DABTxPacketizerConfig& config,
                                 std::vector<std::vector<std::uint8_t>> dataGroups)
    : address(config.address),
      groups(std::move(dataGroups)),
      frame(3 * static_cast<std::size_t>(config.bitrateKbps), 0) {
    assert(config.address > 0 && config.address < 1024);
    assert(frame.size() % 24 == 0 && !frame.empty());
    std::erase_if(groups, [](const auto& g) { return g.empty(); });
}

void DABTxPacketizer::reset() {
    laps = 0;
    group = 0;
    offset = 0;
    continuity = 0;
}

void DABTxPacketizer::fillFrameBytes(std::span<std::uint8_t> bytes) {
    assert(bytes.size() == frame.size());
    std::size_t at = 0;
    while (bytes.size() - at >= 24) {
        const std::size_t room = bytes.size() - at;
        if (groups.empty()) {
            const int len = chooseLength(room, room);
            dabTxPacket({.lengthBytes = len, .isFirst = true, .isLast = true, .address = 0}, {},
                        bytes.subspan(at, static_cast<std::size_t>(len)));
            at += static_cast<std::size_t>(len);
            continue;
        }
        const std::vector<std::uint8_t>& g = groups[group];
        const int len = chooseLength(g.size() - offset, room);
        const std::size_t useful =
            std::min(g.size() - offset, static_cast<std::size_t>(len - kDABTxPacketOverheadBytes));
        dabTxPacket({.lengthBytes = len,
                     .continuityIndex = continuity,
                     .isFirst = offset == 0,
                     .isLast = offset + useful == g.size(),
                     .address = address},
                    std::span(g).subspan(offset, useful), bytes.subspan(at, static_cast<std::size_t>(len)));
        at += static_cast<std::size_t>(len);
        continuity = (continuity + 1) % 4;
        offset += useful;
        if (offset == g.size()) {
            offset = 0;
            group = (group + 1) % groups.size();
            if (group == 0) ++laps;
        }
    }
}

void DABTxPacketizer::fillLogicalFrame(std::span<std::uint8_t> dataBits) {
    assert(dataBits.size() == 8 * frame.size());
    fillFrameBytes(frame);
    for (std::size_t i = 0; i < dataBits.size(); ++i)
        dataBits[i] = static_cast<std::uint8_t>((frame[i / 8] >> (7 - i % 8)) & 1);
}

std::size_t DABTxPacketizer::lapFrames() {
    if (groups.empty()) return 1;
    const std::size_t savedGroup = group, savedOffset = offset, savedLaps = laps;
    const int savedContinuity = continuity;
    reset();
    std::size_t frames = 0;
    for (; laps == 0; ++frames) fillFrameBytes(frame);
    group = savedGroup;
    offset = savedOffset;
    laps = savedLaps;
    continuity = savedContinuity;
    return frames;
}
