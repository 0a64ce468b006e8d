#include "dab/DABDataGroup.h"

#include <algorithm>

#include "dab/DABCRC16.h"

std::string_view description(DABDataGroupType type) {
    switch (type) {
        case DABDataGroupType::general:
            return "general";
        case DABDataGroupType::caMessages:
            return "CA";
        case DABDataGroupType::generalAndCA:
            return "general+CA";
        case DABDataGroupType::motHeader:
            return "MOT-header";
        case DABDataGroupType::motBody:
            return "MOT-body";
        case DABDataGroupType::motBodyAndCA:
            return "MOT-body+CA";
        case DABDataGroupType::motDirectory:
            return "MOT-dir";
        case DABDataGroupType::motDirectoryAndCA:
            return "MOT-dir+CA";
        case DABDataGroupType::unknown:
            break;
    }
    return "unk";
}

std::optional<DABDataGroup> DABDataGroup::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2) return std::nullopt;
    DABDataGroup g;
    g.extensionFlag = (bytes[0] & 0x80) != 0;
    g.crcFlag = (bytes[0] & 0x40) != 0;
    g.segmentFlag = (bytes[0] & 0x20) != 0;
    g.userAccessFlag = (bytes[0] & 0x10) != 0;
    const unsigned rawType = bytes[0] & 0x0F;
    g.type = rawType <= 7 ? static_cast<DABDataGroupType>(rawType) : DABDataGroupType::unknown;
    g.continuityIndex = static_cast<std::uint8_t>(bytes[1] >> 4);
    g.repetitionIndex = static_cast<std::uint8_t>(bytes[1] & 0x0F);

    std::size_t pos = 2;
    if (g.extensionFlag) {
        if (bytes.size() < 4) return std::nullopt;
        g.extensionField = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
        pos = 4;
    }
    if (g.segmentFlag) {
        if (bytes.size() < pos + 2) return std::nullopt;
        g.lastSegment = (bytes[pos] & 0x80) != 0;
        g.segmentNumber = static_cast<std::uint16_t>(((bytes[pos] & 0x7F) << 8) | bytes[pos + 1]);
        pos += 2;
    }
    if (g.userAccessFlag) {
        if (bytes.size() < pos + 1) return std::nullopt;
        const bool hasTransportId = (bytes[pos] & 0x10) != 0;
        const std::size_t li = bytes[pos] & 0x0F;
        ++pos;
        if (bytes.size() < pos + li) return std::nullopt;
        if (hasTransportId) {
            if (li < 2) return std::nullopt;
            g.transportId = static_cast<std::uint16_t>((bytes[pos] << 8) | bytes[pos + 1]);
            g.userAccessBytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos + 2),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(pos + li));
        } else {
            g.userAccessBytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(pos + li));
        }
        pos += li;
    }
    std::size_t end = bytes.size();
    if (g.crcFlag) {
        if (bytes.size() < pos + 2) return std::nullopt;
        g.crcOK = DABCRC16::verifyIncludingTrailer(bytes);
        end -= 2;
    }
    g.dataField.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                       bytes.begin() + static_cast<std::ptrdiff_t>(end));
    return g;
}

std::vector<std::uint8_t> DABDataGroup::motSegmentBytes() const {
    if (dataField.size() < 2) return dataField;
    const std::size_t segmentSize =
        static_cast<std::size_t>(((dataField[0] & 0x1F) << 8) | dataField[1]);
    const std::size_t end = std::min(segmentSize + 2, dataField.size());
    if (end <= 2) return {};
    return {dataField.begin() + 2, dataField.begin() + static_cast<std::ptrdiff_t>(end)};
}
