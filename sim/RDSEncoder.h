#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The station clock at the start of the signal: UTC date and time to the minute, and the local
// offset sent with it.
struct RDSEncoderClockTime {
    int year = 2000;  // 1900-03-01 .. 2100-02-28, the range of the MJD conversion
    int month = 1;
    int day = 1;
    int hourUTC = 0;
    int minuteUTC = 0;
    int localOffsetHalfHours = 0;  // signed, local time = UTC + offset; magnitude up to 31
    bool operator==(const RDSEncoderClockTime&) const = default;
};

// One RadioText+ tag: content type (0..63; 1 = item.title, 4 = item.artist) and what it marks
// in the RadioText, counted in RDS characters (bytes after encoding), first character = 0.
struct RDSEncoderTag {
    int contentType = 0;
    int start = 0;
    int length = 0;
    bool operator==(const RDSEncoderTag&) const = default;
};

// What an RDS transmitter sends for one simulated FM station. Texts are UTF-8; each character
// becomes one RDS character ('?' where the RDS table has none).
struct RDSEncoderConfig {
    std::uint16_t pi = 0;
    int pty = 0;  // 0..31
    bool tp = false;
    bool ta = false;
    bool music = true;  // M/S flag of group 0A/0B
    // Decoder identification, one flag per PS segment (d0 on address 3 ... d3 on address 0).
    bool stereo = true;
    bool artificialHead = false;
    bool compressed = false;
    bool dynamicPTY = false;
    std::string ps;         // up to 8 characters (longer is cut, shorter padded with spaces)
    std::string radioText;  // up to 64 characters (32 with versionB); empty: no type 2 groups
    // Groups 0B and 2B instead of 0A and 2A; the other group types stay version A.
    bool versionB = false;
    // Method A list in group 0A, 87,600..107,900 kHz on the 100 kHz grid, up to 25; others are
    // dropped. Empty: "no AF exists".
    std::vector<int> alternativeFrequenciesKHz;
    std::optional<std::uint8_t> extendedCountryCode;  // group 1A variant 0
    std::optional<int> languageCode;                  // group 1A variant 3, 0..0xFFF
    std::uint16_t programmeItemNumber = 0;            // block D of group 1A
    std::optional<RDSEncoderClockTime> clockTime;     // group 4A once a minute
    std::string ptyName;                              // PTYN, up to 8 characters; group 10A
    // RadioText+: the ODA announced in 3A, tags in 11A. The tags mark radioText.
    bool radioTextPlus = false;
    std::vector<RDSEncoderTag> radioTextPlusTags;
    // Peak of the RDS subcarrier relative to a full-scale multiplex (1.0 = 75 kHz deviation);
    // 0.04 is +-3 kHz, a usual injection level.
    float amplitude = 0.04f;
    double carrierPhaseRad = 0.0;   // against 3 x pilot phase; IEC 62106 allows 0 or +-pi/2
    double initialBitOffset = 0.0;  // where the bit clock starts within the first bit, [0, 1)
    bool operator==(const RDSEncoderConfig&) const = default;
};

// Pilot timing of a multiplex block: the 19 kHz pilot is cos(phaseRad + n * radPerSample) at
// sample n of the block.
struct RDSPilotClock {
    double phaseRad = 0.0;
    double radPerSample = 0.0;
};

// RDS signal generator for the simulated FM stations (IEC 62106 / EN 50067).
//
// Sends PS (0A/0B with TA, M/S, DI and the AF list), RadioText (2A/2B), ECC and language
// (1A), clock time (4A), PTYN (10A) and RadioText+ (3A, 11A) in a fixed mix of about 11.4
// groups/s: 0A and 2A about 3.8/s each, every third group is one of the others, 4A at each
// minute of signal time. Each block gets its checkword and offset word; the bits are coded
// differentially, shaped as biphase symbols (the transmitter half of the cos-shaped data
// spectrum) and modulate a 57 kHz DSB-SC carrier locked to three times the pilot. The bit
// clock is locked to the pilot as well (1187.5 bit/s = 19 kHz / 16), so it follows whatever
// rate and clock error the multiplex is generated with.
//
// render() ADDS the RDS signal to a multiplex at any rate, in full-scale units; blocks must be
// passed in order without gaps. One caller at a time; the setters apply at the next group.
class RDSEncoder {
public:
    enum class Offset { a, b, c, cPrime, d };

    // The four information words of a group with the offset word each is sent with.
    struct Group {
        std::array<std::uint16_t, 4> info{};
        std::array<Offset, 4> offsets{};
    };

    explicit RDSEncoder(RDSEncoderConfig config);
    RDSEncoder(const RDSEncoder&) = delete;
    RDSEncoder& operator=(const RDSEncoder&) = delete;

    void render(std::span<float> mpx, RDSPilotClock pilot);

    // A different text flips the A/B flag and starts from segment 0 (EN 50067, type 2
    // groups), and flips the RadioText+ item toggle. Tags that do not fit the text are dropped.
    void setRadioText(const std::string& text, const std::vector<RDSEncoderTag>& tags = {});
    void setPTYName(const std::string& name);
    void setTA(bool ta);

    // The next whole group, as a receiver's block decoder hands it on. nextDataBit() and
    // render() draw from the same stream, so use one of the three.
    Group nextGroup();
    // The data-bit stream before differential coding, as a receiver hands it to its group
    // decoder.
    int nextDataBit();

    // A 26-bit block, information word first (bit 25 = first transmitted bit).
    static std::uint32_t encodeBlock(std::uint16_t info, Offset offset);
    // Modified Julian day of a Gregorian date (EN 50067 Annex G).
    static int modifiedJulianDay(int year, int month, int day);
    // RadioText+ tags for the artist (item.artist) and title (item.title) found in text;
    // one that does not occur is left out.
    static std::vector<RDSEncoderTag> itemTags(const std::string& text, const std::string& artist,
                                               const std::string& title);

private:
    int chooseGroupType();
    bool isClockDue() const;
    Group basicGroup();
    Group textGroup();
    Group identificationGroup();
    Group clockGroup();
    Group odaGroup() const;
    Group ptyNameGroup();
    Group radioTextPlusGroup() const;
    std::uint16_t blockB(int type, bool versionB, int low5) const;
    void pushBit();
    float baseband(double bitFraction) const;

    RDSEncoderConfig config;
    std::string psBytes;  // 8 RDS characters
    std::string rtBytes;  // 64 (32 with versionB), the message end marked with CR
    int rtSegments = 0;   // segments to send; 0 when there is no text
    int abFlag = 0;
    int psSegment = 0;
    int rtSegment = 0;
    std::string ptynBytes;  // 8 RDS characters, empty when none is sent
    int ptynFlag = 0;
    int ptynSegment = 0;
    std::vector<std::uint16_t> afPairs;  // block C of successive 0A groups
    std::size_t afIndex = 0;
    std::vector<RDSEncoderTag> rtPlusTags;  // at most two, validated against the text
    bool itemToggle = false;

    // Schedule.
    std::int64_t groupCount = 0;  // groups built so far: signal time in 104-bit steps
    int slot = 0;                 // every third slot goes to the other group types
    int extraIndex = 0;
    bool nextIsText = false;
    bool nextIdentificationIsLanguage = false;
    std::int64_t nextClockMinute = 0;
    int startMJD = 0;
    int startMinuteOfDay = 0;

    std::array<std::uint32_t, 4> groupBlocks{};
    int groupBitIndex = 104;  // next bit of groupBlocks to send; 104 = group used up

    // Modulation. Bits overlap their neighbours by two bits either side after shaping.
    std::vector<float> symbolShape;   // one biphase symbol, sampled from -2 to +3 bits
    std::array<float, 8> polarity{};  // +-1 of recent and upcoming bits, by bit index mod 8
    std::int64_t bitIndex = 0;        // bit being sent
    double bitFraction = 0.0;         // position inside it, [0, 1)
    std::int64_t nextCodedIndex = 0;  // first bit not yet coded
    int lastCodedBit = 0;             // differential coder state
};
