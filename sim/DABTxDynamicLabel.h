#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Dynamic label data groups (EN 300 401 clause 7.4.5.2) with DL Plus tags (ETSI TS 102 980),
// as X-PAD carries them. Text goes out in charset 0, one byte per character, so character
// positions in the UTF-8 text are byte positions in the label.

// A DL Plus tag: content type (1 ITEM.TITLE, 4 ITEM.ARTIST), first character and length in
// characters of the tagged text.
struct DABTxDLPlusTag {
    int contentType = 0;
    int start = 0;
    int length = 1;
    bool operator==(const DABTxDLPlusTag&) const = default;
};

inline constexpr int kDABTxDLPlusTitle = 1;
inline constexpr int kDABTxDLPlusArtist = 4;

struct DABTxDynamicLabelMessage {
    std::string text;  // UTF-8, at most 128 characters of the EBU Latin set
    std::vector<DABTxDLPlusTag> tags;  // at most 4; none sends no DL Plus command
    bool itemToggle = false;
    bool itemRunning = true;
    bool operator==(const DABTxDynamicLabelMessage&) const = default;
};

inline constexpr int kDABTxDLSSegmentChars = 16;
inline constexpr int kDABTxDLSMaxChars = 128;

// The message's data groups: one per segment of up to 16 characters (prefix, characters, CRC),
// then the DL Plus command if there are tags. `toggle` flips for every new message.
std::vector<std::vector<std::uint8_t>> dabTxDynamicLabelDataGroups(const DABTxDynamicLabelMessage& message,
                                                                   bool toggle);

// Tags a label "<lead><artist><separator><title>": ITEM.ARTIST and ITEM.TITLE over those parts.
DABTxDynamicLabelMessage dabTxArtistTitleLabel(const std::string& lead, const std::string& artist,
                                               const std::string& separator, const std::string& title);

// Characters (code points) in a UTF-8 string.
int dabTxCharacterCount(const std::string& utf8);
