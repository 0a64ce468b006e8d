#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// MSC data group types (EN 300 401 clause 5.3.3.1); 3…7 are the MOT types of EN 301 234.
enum class DABDataGroupType : std::uint8_t {
    general = 0,
    caMessages = 1,
    generalAndCA = 2,
    motHeader = 3,
    motBody = 4,
    motBodyAndCA = 5,
    motDirectory = 6,
    motDirectoryAndCA = 7,
    unknown = 255,
};

std::string_view description(DABDataGroupType type);

// One MSC data group (EN 300 401 clause 5.3.3): header, optional segment field, optional
// user-access field with the MOT transport identifier, data field and optional CRC. Used by
// packet mode and by X-PAD alike.
struct DABDataGroup {
    bool extensionFlag = false;
    bool crcFlag = false;
    bool segmentFlag = false;
    bool userAccessFlag = false;
    DABDataGroupType type = DABDataGroupType::general;
    std::uint8_t continuityIndex = 0;
    std::uint8_t repetitionIndex = 0;
    std::optional<std::uint16_t> extensionField;
    bool lastSegment = true;                     // true when there is no segment field
    std::optional<std::uint16_t> segmentNumber;  // 15 bits
    std::optional<std::uint16_t> transportId;
    std::vector<std::uint8_t>
        userAccessBytes;  // end-user address, or all of the field without a transport id
    std::vector<std::uint8_t> dataField;
    bool crcOK = true;  // true when the group carries no CRC

    // Bytes of one group → the group (also one whose CRC fails), or nothing when a field
    // does not fit.
    static std::optional<DABDataGroup> parse(std::span<const std::uint8_t> bytes);
    // The data of a MOT segment (EN 301 234 clause 5.1.1): the data field after its 2-byte
    // segmentation header, cut to the announced segment size.
    std::vector<std::uint8_t> motSegmentBytes() const;

    bool operator==(const DABDataGroup&) const = default;
};
