#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the RDS decoder hands out: one report per decoded group, and the station's state
// accumulated from all groups so far. Texts are UTF-8, already mapped through the RDS
// character table.

// Clock time and date from group 4A: UTC plus the station's local offset.
struct RDSClockTime {
    int year = 0;  // Gregorian, from the modified Julian day
    int month = 0;
    int day = 0;
    int hourUTC = 0;
    int minuteUTC = 0;
    int localOffsetHalfHours = 0;  // signed; local time = UTC + offset

    // Local time with its offset, e.g. "2018-09-05T15:17:00+03:00".
    std::string localISO8601() const;
    bool operator==(const RDSClockTime&) const = default;
};

// One RadioText+ tag: content type (0..63) and the text it marks in the RadioText.
struct RDSRadioTextPlusTag {
    int contentType = 0;
    std::string text;
    bool operator==(const RDSRadioTextPlusTag&) const = default;
};

struct RDSRadioTextPlus {
    bool itemRunning = false;
    bool itemToggle = false;
    std::vector<RDSRadioTextPlusTag> tags;
    bool operator==(const RDSRadioTextPlus&) const = default;
};

// Decoder identification: one flag per segment address of groups 0A/0B.
enum class RDSDecoderIdentificationFlag { dynamicPTY = 0, compressed = 1, artificialHead = 2, stereo = 3 };

// One group, decoded. The optional fields are present only when this group carried them
// (ps only once all four segments are in, radioText only once the whole message is in).
struct RDSGroupReport {
    std::uint16_t pi = 0;
    int groupType = 0;  // 0..15
    bool versionB = false;
    bool tp = false;
    int pty = 0;
    std::array<std::uint16_t, 4> blocks{};
    std::array<int, 4> correctedBits{};  // bits repaired per block; -1: lost (its word reads 0)

    std::optional<bool> ta;
    std::optional<bool> music;  // M/S: true = music
    std::optional<std::pair<RDSDecoderIdentificationFlag, bool>> decoderIdentification;
    std::optional<std::string> ps;
    std::optional<std::string> radioText;
    std::optional<std::vector<int>> alternativeFrequenciesKHz;  // method A list, complete
    std::optional<RDSClockTime> clockTime;
    std::optional<std::string> ptyName;  // PTYN, group 10A
    std::optional<std::uint8_t> extendedCountryCode;
    std::optional<int> languageCode;
    std::optional<RDSRadioTextPlus> radioTextPlus;

    // "0A", "2B", ...
    std::string groupName() const;
};

// Everything received from the station since the last reset.
struct RDSProgrammeInfo {
    std::optional<std::uint16_t> pi;
    int pty = 0;
    bool tp = false;
    bool ta = false;
    std::optional<bool> music;
    std::optional<bool> stereo;  // DI d0
    std::optional<bool> artificialHead;
    std::optional<bool> compressed;
    std::optional<bool> dynamicPTY;
    std::string ps;
    std::string radioText;
    std::string ptyName;
    std::vector<int> alternativeFrequenciesKHz;
    std::optional<RDSClockTime> clockTime;
    std::optional<std::uint8_t> extendedCountryCode;
    std::optional<int> languageCode;
    bool sendsVersionB = false;
    // RadioText+: the running item's artist and title, when the station tags them.
    std::string radioTextPlusArtist;
    std::string radioTextPlusTitle;
    bool radioTextPlusItemRunning = false;

    bool operator==(const RDSProgrammeInfo&) const = default;
};

// Reception quality of the group decoder.
struct RDSGroupStatistics {
    double groupsPerSecond = 0.0;  // over the last few seconds of signal
    double blockErrorRate = 0.0;   // share of blocks lost (uncorrectable) while in sync, same window
    std::uint64_t groups = 0;      // groups decoded since construction
    std::uint64_t blocksCorrected = 0;
    std::uint64_t blocksLost = 0;
    bool synced = false;
    bool operator==(const RDSGroupStatistics&) const = default;
};
