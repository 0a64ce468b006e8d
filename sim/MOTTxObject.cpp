#include "sim/MOTTxObject.h"

#include <algorithm>
#include <cassert>

#include "sim/DABTxDataGroup.h"

namespace {
constexpr int kParamTriggerTime = 0x05;
constexpr int kParamContentName = 0x0C;
constexpr std::size_t kHeaderCoreBytes = 7;
constexpr std::size_t kDirectoryFixedBytes = 13;
constexpr std::size_t kMaxSegmentBytes = 8191;  // 13-bit segment size

void putBE(std::vector<std::uint8_t>& v, std::uint32_t x, int bytes) {
    for (int b = bytes - 1; b >= 0; --b) v.push_back(static_cast<std::uint8_t>(x >> (8 * b)));
}
}  // namespace

std::vector<std::uint8_t> motTxHeader(const MOTTxObject& o) {
    std::vector<std::uint8_t> ext;
    if (o.triggerNow) {
        ext.push_back(static_cast<std::uint8_t>(0x80 | kParamTriggerTime));  // PLI 10: 4 bytes
        putBE(ext, 0, 4);  // validity flag 0: now
    }
    // PLI 11 with a 7-bit data field length: charset 0 in the high nibble, then the name.
    assert(o.contentName.size() + 1 < 128);
    ext.push_back(static_cast<std::uint8_t>(0xC0 | kParamContentName));
    ext.push_back(static_cast<std::uint8_t>(o.contentName.size() + 1));
    ext.push_back(0x00);
    ext.insert(ext.end(), o.contentName.begin(), o.contentName.end());

    const std::size_t headerSize = kHeaderCoreBytes + ext.size();
    assert(o.body.size() < (1u << 28) && headerSize < (1u << 13));
    // 28 bits body size, 13 bits header size, 6 bits content type, 9 bits subtype.
    const std::uint64_t core = static_cast<std::uint64_t>(o.body.size()) << 28 |
                               static_cast<std::uint64_t>(headerSize) << 15 |
                               static_cast<std::uint64_t>(o.contentType & 0x3F) << 9 |
                               static_cast<std::uint64_t>(o.contentSubtype & 0x1FF);
    std::vector<std::uint8_t> h;
    for (int b = 6; b >= 0; --b) h.push_back(static_cast<std::uint8_t>(core >> (8 * b)));
    h.insert(h.end(), ext.begin(), ext.end());
    return h;
}

std::vector<std::uint8_t> motTxDirectory(std::span<const MOTTxObject> objects, std::size_t segmentBytes,
                                         int carouselPeriodTenthsS) {
    std::vector<std::uint8_t> entries;
    for (const MOTTxObject& o : objects) {
        putBE(entries, o.transportId, 2);
        const std::vector<std::uint8_t> h = motTxHeader(o);
        entries.insert(entries.end(), h.begin(), h.end());
    }
    const std::size_t size = kDirectoryFixedBytes + entries.size();
    std::vector<std::uint8_t> d;
    putBE(d, static_cast<std::uint32_t>(size) & 0x3FFFFFFF, 4);  // compression flag 0, Rfu 0
    putBE(d, static_cast<std::uint32_t>(objects.size()), 2);
    putBE(d, static_cast<std::uint32_t>(carouselPeriodTenthsS) & 0xFFFFFF, 3);
    putBE(d, static_cast<std::uint32_t>(segmentBytes) & 0x1FFF, 2);  // Rfu, Rfa, segment size
    putBE(d, 0, 2);  // no directory extension
    d.insert(d.end(), entries.begin(), entries.end());
    return d;
}

std::vector<std::vector<std::uint8_t>> motTxSegments(int type, std::uint16_t transportId,
                                                     std::span<const std::uint8_t> whole,
                                                     std::size_t segmentBytes, int& continuity) {
    assert(segmentBytes > 0 && segmentBytes <= kMaxSegmentBytes);
    std::vector<std::vector<std::uint8_t>> groups;
    const std::size_t count = std::max<std::size_t>(1, (whole.size() + segmentBytes - 1) / segmentBytes);
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t from = n * segmentBytes;
        const std::size_t len = std::min(segmentBytes, whole.size() - from);
        std::vector<std::uint8_t> field;
        field.reserve(len + 2);
        putBE(field, static_cast<std::uint32_t>(len), 2);  // repetition count 0, 13-bit size
        field.insert(field.end(), whole.begin() + static_cast<std::ptrdiff_t>(from),
                     whole.begin() + static_cast<std::ptrdiff_t>(from + len));
        groups.push_back(dabTxDataGroup({.type = type,
                                         .continuityIndex = continuity,
                                         .segment = DABTxSegmentField{.isLast = n + 1 == count,
                                                                      .number = static_cast<int>(n)},
                                         .transportId = transportId},
                                        field));
        continuity = (continuity + 1) % 16;
    }
    return groups;
}

std::vector<std::vector<std::uint8_t>> motTxHeaderModeDataGroups(const MOTTxObject& o,
                                                                 std::size_t segmentBytes) {
    int headerContinuity = 0, bodyContinuity = 0;
    auto groups = motTxSegments(3, o.transportId, motTxHeader(o), kMaxSegmentBytes, headerContinuity);
    const auto body = motTxSegments(4, o.transportId, o.body, segmentBytes, bodyContinuity);
    groups.insert(groups.end(), body.begin(), body.end());
    return groups;
}

std::vector<std::vector<std::uint8_t>> motTxDirectoryModeDataGroups(std::span<const MOTTxObject> objects,
                                                                    std::uint16_t directoryTransportId,
                                                                    std::size_t segmentBytes,
                                                                    int carouselPeriodTenthsS) {
    int directoryContinuity = 0, bodyContinuity = 0;
    auto groups = motTxSegments(6, directoryTransportId,
                                motTxDirectory(objects, segmentBytes, carouselPeriodTenthsS),
                                segmentBytes, directoryContinuity);
    for (const MOTTxObject& o : objects) {
        const auto body = motTxSegments(4, o.transportId, o.body, segmentBytes, bodyContinuity);
        groups.insert(groups.end(), body.begin(), body.end());
    }
    return groups;
}
