#include "sim/DABPlusSuperframer.h"

#include <algorithm>
#include <cassert>

#include "sim/AACTxBitWriter.h"

namespace {
constexpr int kDataRows = DABPlusRSEncoder::kDataBytes;
constexpr int kParityRows = DABPlusRSEncoder::kParityBytes;

std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t polynomial,
                    std::uint16_t initial) {
    std::uint16_t reg = initial;
    for (const std::uint8_t byte : bytes)
        for (int i = 7; i >= 0; --i) {
            const bool feedback = (((reg >> 15) ^ (byte >> i)) & 1) != 0;
            reg = static_cast<std::uint16_t>(reg << 1);
            if (feedback) reg ^= polynomial;
        }
    return reg;
}
}  // namespace

std::uint16_t dabPlusFireCode(std::span<const std::uint8_t> nineBytes) {
    assert(nineBytes.size() == 9);
    return crc16(nineBytes, 0x782F, 0x0000);
}

std::uint16_t dabPlusAUCRC(std::span<const std::uint8_t> au) {
    return static_cast<std::uint16_t>(~crc16(au, 0x1021, 0xFFFF));
}

namespace {

// Bytes of the data stream element an AU starts with (the PAD), 0 when it starts otherwise.
std::size_t leadingDSEBytes(std::span<const std::uint8_t> au) {
    if (au.size() < 2 || (au[0] >> 5) != 4) return 0;
    const std::size_t count = au[1];
    if (count < 255) return 2 + count;
    return au.size() < 3 ? 0 : 3 + count + au[2];
}

// The AU grown to `size` bytes by a padding data stream element after its leading PAD element:
// a decoder consumes every byte, which a tail of zeros after the end element would not give.
// A single spare byte cannot hold an element and stays a zero at the end.
std::vector<std::uint8_t> paddedToSize(std::vector<std::uint8_t> au, std::size_t size) {
    if (size <= au.size() + 1) {
        au.resize(std::max(size, au.size()), 0);
        return au;
    }
    std::size_t spare = size - au.size();
    std::vector<std::uint8_t> fill;
    while (spare > 0) {
        // One element holds 2 + up to 254 or 3 + 255..510 bytes; never leave a single byte.
        std::size_t take = std::min<std::size_t>(spare, 3 + 510);
        if (spare - take == 1) take -= 2;
        if (take == 257) take = 255;  // 255 data bytes need the escape form (258): two elements
        const std::size_t data = take >= 258 ? take - 3 : take - 2;
        fill.push_back(static_cast<std::uint8_t>(4 << 5 | 15 << 1));  // DSE, tag 15, not aligned
        if (data < 255) {
            fill.push_back(static_cast<std::uint8_t>(data));
        } else {
            fill.push_back(255);
            fill.push_back(static_cast<std::uint8_t>(data - 255));
        }
        fill.insert(fill.end(), data, 0);
        spare -= take;
    }
    const auto at = au.begin() + static_cast<std::ptrdiff_t>(leadingDSEBytes(au));
    au.insert(at, fill.begin(), fill.end());
    return au;
}

}  // namespace

DABPlusSuperframer::DABPlusSuperframer(const DABPlusSuperframerConfig& config)
    : settings(config), s(config.bitrateKbps / 8), auCount(config.sampleRateHz == 48'000 ? 6 : 4) {
    assert(config.bitrateKbps > 0 && config.bitrateKbps % 8 == 0);
    assert(config.sampleRateHz == 48'000 || config.sampleRateHz == 32'000);
}

std::size_t DABPlusSuperframer::headerBytes() const {
    // Fire code, format byte, then (n - 1) 12-bit addresses rounded up to whole bytes.
    return 3 + (12 * static_cast<std::size_t>(auCount - 1) + 7) / 8;
}

std::size_t DABPlusSuperframer::accessUnitCapacity() const {
    const std::size_t data = static_cast<std::size_t>(kDataRows) * static_cast<std::size_t>(s);
    return (data - headerBytes()) / static_cast<std::size_t>(auCount) - 2;
}

bool DABPlusSuperframer::build(std::span<const std::vector<std::uint8_t>> aus,
                               std::span<std::uint8_t> superframe) const {
    assert(aus.size() == static_cast<std::size_t>(auCount) &&
           superframe.size() >= superframeBytes());
    const std::size_t dataBytes = static_cast<std::size_t>(kDataRows) * static_cast<std::size_t>(s);
    std::size_t total = headerBytes();
    for (const auto& au : aus) total += au.size() + 2;
    if (total > dataBytes) return false;

    std::fill(superframe.begin(),
              superframe.begin() + static_cast<std::ptrdiff_t>(superframeBytes()), std::uint8_t{0});
    AACTxBitWriter header(superframe.subspan(2, headerBytes() - 2));
    header.put(0, 1);                                        // rfa
    header.put(settings.sampleRateHz == 48'000 ? 1 : 0, 1);  // dac_rate
    header.put(0, 1);                                        // sbr_flag
    header.put(settings.isStereo ? 1 : 0, 1);                // aac_channel_mode
    header.put(0, 1);                                        // ps_flag
    header.put(0, 3);                                        // mpeg_surround_config
    std::size_t at = headerBytes();
    for (std::size_t i = 0; i < aus.size(); ++i) {
        if (i > 0) header.put(static_cast<std::uint32_t>(at), 12);
        // No start address marks the last AU's end: it runs to the end of the data, so the
        // padding goes inside it, as a data stream element the AAC decoder reads and skips.
        std::vector<std::uint8_t> au = aus[i];
        if (i + 1 == aus.size()) au = paddedToSize(std::move(au), dataBytes - at - 2);
        std::copy(au.begin(), au.end(), superframe.begin() + static_cast<std::ptrdiff_t>(at));
        at += au.size();
        const std::uint16_t crc = dabPlusAUCRC(au);
        superframe[at++] = static_cast<std::uint8_t>(crc >> 8);
        superframe[at++] = static_cast<std::uint8_t>(crc);
    }
    const std::uint16_t fire = dabPlusFireCode(superframe.subspan(2, 9));
    superframe[0] = static_cast<std::uint8_t>(fire >> 8);
    superframe[1] = static_cast<std::uint8_t>(fire);

    std::array<std::uint8_t, kDataRows> row{};
    std::array<std::uint8_t, kParityRows> parity{};
    const auto stride = static_cast<std::size_t>(s);
    for (std::size_t k = 0; k < stride; ++k) {
        for (std::size_t j = 0; j < row.size(); ++j) row[j] = superframe[j * stride + k];
        rs.encode(row, parity);
        for (std::size_t j = 0; j < parity.size(); ++j)
            superframe[dataBytes + j * stride + k] = parity[j];
    }
    return true;
}
