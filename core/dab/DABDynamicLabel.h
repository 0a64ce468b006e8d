#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Dynamic label segments (EN 300 401 clause 7.4.5.2) to whole labels, with DL Plus item tags
// (ETSI TS 102 980) for artist and title. Input: complete X-PAD DL data groups (2-byte
// prefix, up to 16 characters or a command, CRC-16). A label is reported once all its
// segments (0 up to the one with the last flag) arrived under one toggle value, and again
// only when text, artist or title change. One caller; the callback runs inside
// pushDataGroup.
class DABDynamicLabel {
public:
    static constexpr int kMaxSegments = 8;
    static constexpr int kContentTitle = 1;   // DL Plus ITEM.TITLE
    static constexpr int kContentArtist = 4;  // DL Plus ITEM.ARTIST

    DABDynamicLabel() = default;
    DABDynamicLabel(const DABDynamicLabel&) = delete;
    DABDynamicLabel& operator=(const DABDynamicLabel&) = delete;

    // The length of the data group whose first two bytes are `prefix`.
    static std::size_t groupLength(std::uint8_t prefix0, std::uint8_t prefix1);
    // One whole data group; a failed CRC only bumps crcFailures.
    void pushDataGroup(std::span<const std::uint8_t> group);
    void reset();

    int crcFailures() const { return crcFails; }

    // UTF-8 label (empty after a clear command) with the running item's artist and title.
    std::function<void(const std::string& text, const std::optional<std::string>& artist,
                       const std::optional<std::string>& title)>
        onDynamicLabel;

private:
    struct Segment {
        std::vector<std::uint8_t> chars;
        bool last = false;
    };
    struct Tag {
        int contentType = 0;
        int start = 0;   // first character
        int length = 0;  // characters
    };
    struct DLPlus {
        bool toggle = false;
        bool itemRunning = false;
        std::vector<Tag> tags;
    };
    struct Shown {
        std::string text;
        std::optional<std::string> artist, title;
        bool operator==(const Shown&) const = default;
    };

    void pushSegment(std::span<const std::uint8_t> group, bool toggleBit);
    void pushDLPlus(std::span<const std::uint8_t> field, bool toggleBit);
    void startMessage(bool toggleBit);
    void publish();
    std::optional<std::string> tagged(int contentType) const;

    std::optional<bool> toggle;
    int charset = 0;
    std::map<int, Segment> segments;
    std::optional<std::vector<std::uint8_t>> complete;  // raw bytes of the whole current label
    std::optional<DLPlus> plus;
    std::optional<Shown> shown;
    int crcFails = 0;
};
