#include "sim/DABTxDynamicLabel.h"

#include <algorithm>
#include <cassert>

#include "sim/DABTxDataGroup.h"
#include "sim/DABTxTables.h"

namespace {
constexpr int kCommandDLPlus = 0x2;
}  // namespace

int dabTxCharacterCount(const std::string& utf8) {
    return static_cast<int>(std::count_if(utf8.begin(), utf8.end(),
                                          [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::vector<std::vector<std::uint8_t>> dabTxDynamicLabelDataGroups(const DABTxDynamicLabelMessage& m,
                                                                   bool toggle) {
    const std::string bytes = dabTxEncodeCharset0(m.text);
    assert(!bytes.empty() && bytes.size() <= static_cast<std::size_t>(kDABTxDLSMaxChars));
    const std::uint8_t t = toggle ? 0x80 : 0x00;
    std::vector<std::vector<std::uint8_t>> groups;
    const std::size_t segments = (bytes.size() + kDABTxDLSSegmentChars - 1) / kDABTxDLSSegmentChars;
    for (std::size_t n = 0; n < segments; ++n) {
        const std::size_t from = n * kDABTxDLSSegmentChars;
        const std::size_t len = std::min<std::size_t>(kDABTxDLSSegmentChars, bytes.size() - from);
        const bool first = n == 0, last = n + 1 == segments;
        std::vector<std::uint8_t> g;
        g.reserve(len + 4);
        // Toggle, first, last, C = 0, length - 1; then charset 0 on the first segment, else
        // the segment number.
        g.push_back(static_cast<std::uint8_t>(t | (first ? 0x40 : 0) | (last ? 0x20 : 0) | (len - 1)));
        g.push_back(first ? 0x00 : static_cast<std::uint8_t>((n & 7) << 4));
        g.insert(g.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + len));
        dabTxAppendCRC16(g);
        groups.push_back(std::move(g));
    }
    if (m.tags.empty()) return groups;
    assert(m.tags.size() <= 4);
    // DL Plus command: CId 0 (tags), item toggle, item running, number of tags - 1; then per tag
    // content type, start marker and length marker (length - 1), 7 bits each.
    std::vector<std::uint8_t> field;
    field.push_back(static_cast<std::uint8_t>((m.itemToggle ? 0x08 : 0) | (m.itemRunning ? 0x04 : 0) |
                                              (m.tags.size() - 1)));
    for (const DABTxDLPlusTag& tag : m.tags) {
        assert(tag.start >= 0 && tag.length >= 1 && tag.start + tag.length <= static_cast<int>(bytes.size()));
        field.push_back(static_cast<std::uint8_t>(tag.contentType & 0x7F));
        field.push_back(static_cast<std::uint8_t>(tag.start & 0x7F));
        field.push_back(static_cast<std::uint8_t>((tag.length - 1) & 0x7F));
    }
    // The command belongs to the message with the same toggle; it is one segment, first and last.
    // The link bit (top of the second byte) repeats the message's toggle.
    std::vector<std::uint8_t> g;
    g.reserve(field.size() + 4);
    g.push_back(static_cast<std::uint8_t>(t | 0x60 | 0x10 | kCommandDLPlus));
    g.push_back(static_cast<std::uint8_t>(t | (field.size() - 1)));
    g.insert(g.end(), field.begin(), field.end());
    dabTxAppendCRC16(g);
    groups.push_back(std::move(g));
    return groups;
}

DABTxDynamicLabelMessage dabTxArtistTitleLabel(const std::string& lead, const std::string& artist,
                                               const std::string& separator, const std::string& title) {
    const int artistStart = dabTxCharacterCount(lead);
    const int titleStart = artistStart + dabTxCharacterCount(artist) + dabTxCharacterCount(separator);
    return {.text = lead + artist + separator + title,
            .tags = {{.contentType = kDABTxDLPlusArtist, .start = artistStart, .length = dabTxCharacterCount(artist)},
                     {.contentType = kDABTxDLPlusTitle, .start = titleStart, .length = dabTxCharacterCount(title)}}};
}
