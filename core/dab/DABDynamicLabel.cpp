#include "dab/DABDynamicLabel.h"

#include "dab/DABCRC16.h"
#include "dab/DABCharset.h"

namespace {
constexpr int kCommandClear = 0x1;
constexpr int kCommandDLPlus = 0x2;
constexpr int kCharsetUTF8 = 15;
}  // namespace

std::size_t DABDynamicLabel::groupLength(std::uint8_t prefix0, std::uint8_t prefix1) {
    const bool command = (prefix0 & 0x10) != 0;
    if (!command) return 2 + static_cast<std::size_t>((prefix0 & 0x0F) + 1) + 2;
    if ((prefix0 & 0x0F) == kCommandClear) return 4;
    // TS 102 980 clause 7.1: a command's second byte holds its field length minus one.
    return 2 + static_cast<std::size_t>((prefix1 & 0x0F) + 1) + 2;
}

void DABDynamicLabel::reset() {
    toggle.reset();
    charset = 0;
    segments.clear();
    complete.reset();
    plus.reset();
    shown.reset();
    crcFails = 0;
}

void DABDynamicLabel::pushDataGroup(std::span<const std::uint8_t> group) {
    if (group.size() < 4 || group.size() != groupLength(group[0], group[1])) return;
    if (!DABCRC16::verifyIncludingTrailer(group)) {
        ++crcFails;
        return;
    }
    const bool toggleBit = (group[0] & 0x80) != 0;
    if ((group[0] & 0x10) == 0) {
        pushSegment(group, toggleBit);
        return;
    }
    const int command = group[0] & 0x0F;
    if (command == kCommandClear) {
        startMessage(toggleBit);
        segments.clear();
        complete = std::vector<std::uint8_t>{};
        publish();
    } else if (command == kCommandDLPlus) {
        pushDLPlus(group.subspan(2, group.size() - 4), toggleBit);
    }
}

void DABDynamicLabel::startMessage(bool toggleBit) {
    if (toggle == toggleBit) return;
    // A new message: what was collected belongs to the old one. DL Plus tags sent ahead for
    // the new message (same toggle) are kept.
    toggle = toggleBit;
    segments.clear();
    complete.reset();
    if (plus && plus->toggle != toggleBit) plus.reset();
}

void DABDynamicLabel::pushSegment(std::span<const std::uint8_t> group, bool toggleBit) {
    startMessage(toggleBit);
    const bool first = (group[0] & 0x40) != 0;
    const bool last = (group[0] & 0x20) != 0;
    const int number = first ? 0 : (group[1] >> 4) & 0x07;
    if (first) charset = group[1] >> 4;
    segments[number] = Segment{.chars = {group.begin() + 2, group.end() - 2}, .last = last};

    std::vector<std::uint8_t> raw;
    for (int n = 0; n < kMaxSegments; ++n) {
        const auto it = segments.find(n);
        if (it == segments.end()) return;
        raw.insert(raw.end(), it->second.chars.begin(), it->second.chars.end());
        if (it->second.last) {
            complete = std::move(raw);
            publish();
            return;
        }
    }
}

void DABDynamicLabel::pushDLPlus(std::span<const std::uint8_t> field, bool toggleBit) {
    // TS 102 980 clause 7.3: CId (4 bits, 0 = tags command), item toggle, item running,
    // number of tags − 1 (2 bits), then 3 bytes per tag: content type, start, length − 1.
    if (field.empty() || (field[0] >> 4) != 0) return;
    const std::size_t count = static_cast<std::size_t>(field[0] & 0x03) + 1;
    if (field.size() < 1 + 3 * count) return;
    DLPlus next{.toggle = toggleBit, .itemRunning = (field[0] & 0x04) != 0};
    for (std::size_t n = 0; n < count; ++n) {
        const std::span<const std::uint8_t> t = field.subspan(1 + 3 * n, 3);
        next.tags.push_back(
            {.contentType = t[0] & 0x7F, .start = t[1] & 0x7F, .length = (t[2] & 0x7F) + 1});
    }
    plus = std::move(next);
    if (toggle == toggleBit && complete) publish();
}

std::optional<std::string> DABDynamicLabel::tagged(int contentType) const {
    if (!plus || !complete || plus->toggle != toggle || !plus->itemRunning) return std::nullopt;
    // Markers count characters; in UTF-8 a character starts at every byte that is not a
    // continuation byte, in the single-byte sets at every byte.
    std::vector<std::size_t> starts;
    for (std::size_t n = 0; n < complete->size(); ++n) {
        if (charset != kCharsetUTF8 || ((*complete)[n] & 0xC0) != 0x80) starts.push_back(n);
    }
    starts.push_back(complete->size());
    for (const Tag& tag : plus->tags) {
        if (tag.contentType != contentType) continue;
        const auto begin = static_cast<std::size_t>(tag.start);
        const auto end = begin + static_cast<std::size_t>(tag.length);
        if (end >= starts.size()) continue;
        const std::span<const std::uint8_t> bytes(complete->data() + starts[begin],
                                                  starts[end] - starts[begin]);
        std::string text = decodeDABText(bytes, charset);
        if (!text.empty()) return text;
    }
    return std::nullopt;
}

void DABDynamicLabel::publish() {
    if (!complete) return;
    Shown next{.text = decodeDABText(*complete, charset),
               .artist = tagged(kContentArtist),
               .title = tagged(kContentTitle)};
    if (shown == next) return;
    shown = next;
    if (onDynamicLabel) onDynamicLabel(next.text, next.artist, next.title);
}
