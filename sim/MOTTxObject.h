#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// MOT objects (EN 301 234) and the data groups that carry them: header mode (a type 3 header
// data group, then type 4 body segments) for a slideshow in X-PAD, directory mode (type 6
// directory segments listing every object, then the bodies) for a packet-mode carousel.

inline constexpr int kMOTContentTypeImage = 2;
inline constexpr int kMOTImageJPEG = 1;  // JFIF
inline constexpr int kMOTImagePNG = 3;

struct MOTTxObject {
    std::uint16_t transportId = 0;
    std::string contentName;  // sent with charset 0; plain ASCII file names
    int contentType = kMOTContentTypeImage;
    int contentSubtype = kMOTImagePNG;
    std::vector<std::uint8_t> body;
    bool triggerNow = false;  // a slideshow's TriggerTime parameter, "now"
    bool operator==(const MOTTxObject&) const = default;
};

// The object's header: the 7-byte core (28-bit body size, 13-bit header size, 6-bit content type,
// 9-bit subtype) and the extension (TriggerTime if set, ContentName).
std::vector<std::uint8_t> motTxHeader(const MOTTxObject& object);

// The directory: 13 fixed bytes (size, object count, carousel period in 0.1 s, segment size, an
// empty extension), then per object its transport id and header.
std::vector<std::uint8_t> motTxDirectory(std::span<const MOTTxObject> objects, std::size_t segmentBytes,
                                         int carouselPeriodTenthsS);

// Splits `whole` into data groups of `type` for `transportId`, each holding the 2-byte
// segmentation header (repetition count 0, segment size) and up to segmentBytes of data.
// Continuity indices count on from `continuity` (updated).
std::vector<std::vector<std::uint8_t>> motTxSegments(int type, std::uint16_t transportId,
                                                     std::span<const std::uint8_t> whole,
                                                     std::size_t segmentBytes, int& continuity);

// Header mode: the header data group, then the body segments.
std::vector<std::vector<std::uint8_t>> motTxHeaderModeDataGroups(const MOTTxObject& object,
                                                                 std::size_t segmentBytes);
// Directory mode: the directory's segments, then every object's body segments.
std::vector<std::vector<std::uint8_t>> motTxDirectoryModeDataGroups(std::span<const MOTTxObject> objects,
                                                                    std::uint16_t directoryTransportId,
                                                                    std::size_t segmentBytes,
                                                                    int carouselPeriodTenthsS);
