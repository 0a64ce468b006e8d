#include "rds/RDSProgrammeState.h"

#include <array>

#include "rds/RDSCharset.h"

namespace {

std::array<std::uint8_t, 2> bytesOf(std::uint16_t block) {
    return {static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block & 0xFF)};
}

// IEC 62106 Annex G: MJD to year, month, day in integer arithmetic (valid 1900-03-01 to
// 2100-02-28). Returns false outside that range.
bool dateFromMJD(int mjd, RDSClockTime& out) {
    constexpr int kFirst = 15079;  // 1900-03-01
    constexpr int kLast = 88127;   // 2100-02-28
    if (mjd < kFirst || mjd > kLast) return false;
    const int yp = (mjd * 100 - 1507820) / 36525;
    const int yearDays = yp * 36525 / 100;
    const int mp = ((mjd - yearDays) * 10 - 149561) * 1000 / 306001;
    out.day = mjd - 14956 - yearDays - mp * 306001 / 10000;
    const int k = (mp == 14 || mp == 15) ? 1 : 0;
    out.year = yp + k + 1900;
    out.month = mp - 1 - k * 12;
    return true;
}

std::string substringOf(std::span<const std::uint8_t> codes, int start, int length) {
    return RDSCharset::toUTF8(
        codes.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(length)));
}

std::string trimmed(std::string s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

RDSProgrammeState::RDSProgrammeState() {
    reset();
}

void RDSProgrammeState::reset() {
    programme = {};
    ps.clear();
    radioTextVersionA.clear();
    radioTextVersionB.clear();
    ptyName.clear();
    radioTextB = false;
    radioTextABFlag.reset();
    ptyNameABFlag.reset();
    completeRadioTextCodes.clear();
    afExpected.reset();
    afReceived = 0;
    afSkipNext = false;
    afList.clear();
    radioTextPlusGroupType.reset();
    radioTextPlusToggle.reset();
}

RDSGroupReport RDSProgrammeState::apply(const RDSRawGroup& group, std::uint16_t pi) {
    const std::uint16_t b = group.blocks[1];
    RDSGroupReport report{.pi = pi,
                          .groupType = (b >> 12) & 0xF,
                          .versionB = ((b >> 11) & 1U) != 0,
                          .tp = ((b >> 10) & 1U) != 0,
                          .pty = (b >> 5) & 0x1F,
                          .blocks = group.blocks,
                          .correctedBits = group.correctedBits};
    for (int i = 0; i < 4; ++i) {
        if (group.received[i]) continue;
        report.blocks[i] = 0;
        report.correctedBits[i] = -1;
    }
    programme.pi = pi;
    programme.pty = report.pty;
    programme.tp = report.tp;
    if (report.versionB) programme.sendsVersionB = true;

    const int typeAndVersion = report.groupType * 2 + (report.versionB ? 1 : 0);
    switch (report.groupType) {
        case 0:
            applyBasicTuning(group, report);
            break;
        case 1:
            if (!report.versionB && group.received[2]) applySlowLabelling(group.blocks[2], report);
            break;
        case 2:
            applyRadioText(group, report);
            break;
        case 3:
            if (!report.versionB) applyOpenDataAnnouncement(group);
            break;
        case 4:
            if (!report.versionB && group.received[2] && group.received[3]) {
                report.clockTime = decodeClockTime(b, group.blocks[2], group.blocks[3]);
                if (report.clockTime) programme.clockTime = report.clockTime;
            }
            break;
        case 10:
            if (!report.versionB) applyProgrammeTypeName(group, report);
            break;
        default:
            break;
    }
    // The fixed group types above never carry RT+, whatever an announcement says.
    const bool fixedType =
        report.groupType <= 4 || report.groupType == 10 || report.groupType == 15;
    if (!fixedType && radioTextPlusGroupType == typeAndVersion) applyRadioTextPlus(group, report);
    return report;
}

// Groups 0A/0B: TA, M/S, one decoder-identification bit and two PS characters at segment
// address a (DI bit: a = 3 stereo, 2 artificial head, 1 compressed, 0 dynamic PTY).
void RDSProgrammeState::applyBasicTuning(const RDSRawGroup& group, RDSGroupReport& report) {
    const std::uint16_t b = group.blocks[1];
    const int address = b & 0x3;
    const bool di = ((b >> 2) & 1U) != 0;
    report.ta = ((b >> 4) & 1U) != 0;
    report.music = ((b >> 3) & 1U) != 0;
    const auto flag = static_cast<RDSDecoderIdentificationFlag>(address);
    report.decoderIdentification = std::pair{flag, di};
    programme.ta = *report.ta;
    programme.music = report.music;
    switch (flag) {
        case RDSDecoderIdentificationFlag::stereo:
            programme.stereo = di;
            break;
        case RDSDecoderIdentificationFlag::artificialHead:
            programme.artificialHead = di;
            break;
        case RDSDecoderIdentificationFlag::compressed:
            programme.compressed = di;
            break;
        case RDSDecoderIdentificationFlag::dynamicPTY:
            programme.dynamicPTY = di;
            break;
    }
    if (!report.versionB) {
        if (group.received[2]) {
            applyAlternativeFrequencies(group.blocks[2], report);
        } else {
            afExpected.reset();  // a list with a gap is not trusted
        }
    }
    if (!group.received[3]) return;
    // Every group repeats a whole name, as the callers of the name expect to see it refreshed.
    ps.writeSegment(2 * address, bytesOf(group.blocks[3]));
    if (ps.isComplete()) {
        report.ps = ps.text();
        programme.ps = *report.ps;
    }
}

// Group 0A block C, AF method A: 224 + N announces N frequencies, 1..204 are 87.6..107.9 MHz,
// 205 is a filler, 250 says an LF/MF frequency follows (counted, not listed).
void RDSProgrammeState::applyAlternativeFrequencies(std::uint16_t c, RDSGroupReport& report) {
    for (const std::uint8_t code : bytesOf(c)) {
        if (code >= 224 && code <= 249) {
            afExpected = code - 224;
            afReceived = 0;
            afSkipNext = false;
            afList.clear();
            continue;
        }
        if (!afExpected) continue;
        if (afSkipNext) {
            afSkipNext = false;
            ++afReceived;
        } else if (code >= 1 && code <= 204) {
            afList.push_back(87'500 + 100 * code);
            ++afReceived;
        } else if (code == 250) {
            afSkipNext = true;
        }
        if (*afExpected > 0 && afReceived == *afExpected) {
            report.alternativeFrequenciesKHz = afList;
            programme.alternativeFrequenciesKHz = afList;
            afExpected.reset();
        }
    }
}

// Group 1A block C: variant 0 carries the extended country code, variant 3 the language.
void RDSProgrammeState::applySlowLabelling(std::uint16_t c, RDSGroupReport& report) {
    const int variant = (c >> 12) & 0x7;
    if (variant == 0) {
        report.extendedCountryCode = static_cast<std::uint8_t>(c & 0xFF);
        programme.extendedCountryCode = report.extendedCountryCode;
    } else if (variant == 3) {
        report.languageCode = c & 0xFFF;
        programme.languageCode = report.languageCode;
    }
}

// Groups 2A (four characters per segment in C and D) and 2B (two in D); a change of the A/B
// flag starts a new text.
void RDSProgrammeState::applyRadioText(const RDSRawGroup& group, RDSGroupReport& report) {
    const std::uint16_t b = group.blocks[1];
    const bool versionB = report.versionB;
    const int flag = (b >> 4) & 1;
    const int address = b & 0xF;
    RDSTextBuffer& text = versionB ? radioTextVersionB : radioTextVersionA;
    if (versionB != radioTextB || (radioTextABFlag && *radioTextABFlag != flag)) {
        radioTextVersionA.clear();
        radioTextVersionB.clear();
        completeRadioTextCodes.clear();  // RT+ tags must not point into the old text
    }
    radioTextB = versionB;
    radioTextABFlag = flag;

    if (versionB) {
        if (group.received[3]) text.writeSegment(2 * address, bytesOf(group.blocks[3]));
    } else {
        if (group.received[2]) text.writeSegment(4 * address, bytesOf(group.blocks[2]));
        if (group.received[3]) text.writeSegment(4 * address + 2, bytesOf(group.blocks[3]));
    }
    if (text.isComplete()) {
        report.radioText = text.text();
        programme.radioText = *report.radioText;
        completeRadioTextCodes.assign(text.codes().begin(), text.codes().end());
    }
}

// Group 3A: which group type an open-data application uses; only RadioText+ is followed.
void RDSProgrammeState::applyOpenDataAnnouncement(const RDSRawGroup& group) {
    if (!group.received[3] || group.blocks[3] != kRadioTextPlusAID) return;
    radioTextPlusGroupType = group.blocks[1] & 0x1F;
}

// RadioText+ tag group: two tags (content type, start, length - 1) over the current
// RadioText, counted in RDS characters.
void RDSProgrammeState::applyRadioTextPlus(const RDSRawGroup& group, RDSGroupReport& report) {
    if (!group.received[2] || !group.received[3]) return;
    const std::uint16_t b = group.blocks[1], c = group.blocks[2], d = group.blocks[3];
    RDSRadioTextPlus plus{.itemRunning = ((b >> 3) & 1U) != 0, .itemToggle = ((b >> 4) & 1U) != 0};
    struct Tag {
        int contentType, start, length;
    };
    const std::array<Tag, 2> tags = {
        Tag{((b & 0x7) << 3) | ((c >> 13) & 0x7), (c >> 7) & 0x3F, ((c >> 1) & 0x3F) + 1},
        Tag{((c & 1) << 5) | ((d >> 11) & 0x1F), (d >> 5) & 0x3F, (d & 0x1F) + 1}};
    if (radioTextPlusToggle && *radioTextPlusToggle != plus.itemToggle) {
        programme.radioTextPlusArtist.clear();
        programme.radioTextPlusTitle.clear();
    }
    radioTextPlusToggle = plus.itemToggle;
    programme.radioTextPlusItemRunning = plus.itemRunning;
    const std::span<const std::uint8_t> codes = completeRadioTextCodes;
    for (const Tag& tag : tags) {
        if (tag.contentType == 0) continue;  // dummy
        if (tag.start + tag.length > static_cast<int>(codes.size())) continue;
        const std::string text = trimmed(substringOf(codes, tag.start, tag.length));
        plus.tags.push_back({.contentType = tag.contentType, .text = text});
        if (tag.contentType == 1) programme.radioTextPlusTitle = text;
        if (tag.contentType == 4) programme.radioTextPlusArtist = text;
    }
    report.radioTextPlus = std::move(plus);
}

// Group 10A: programme type name, four characters per segment; the A/B flag clears it.
void RDSProgrammeState::applyProgrammeTypeName(const RDSRawGroup& group, RDSGroupReport& report) {
    const std::uint16_t b = group.blocks[1];
    const int flag = (b >> 4) & 1;
    if (ptyNameABFlag && *ptyNameABFlag != flag) ptyName.clear();
    ptyNameABFlag = flag;
    const int address = b & 1;
    const bool wasComplete = ptyName.isComplete();
    const std::string before = ptyName.text();
    if (group.received[2]) ptyName.writeSegment(4 * address, bytesOf(group.blocks[2]));
    if (group.received[3]) ptyName.writeSegment(4 * address + 2, bytesOf(group.blocks[3]));
    if (ptyName.isComplete() && (!wasComplete || ptyName.text() != before)) {
        report.ptyName = ptyName.text();
        programme.ptyName = *report.ptyName;
    }
}

// Group 4A: MJD (17 bits over B and C), UTC hour and minute, local offset in half hours.
std::optional<RDSClockTime> RDSProgrammeState::decodeClockTime(std::uint16_t b, std::uint16_t c,
                                                               std::uint16_t d) {
    const int mjd = ((b & 0x3) << 15) | (c >> 1);
    const int hour = ((c & 1) << 4) | (d >> 12);
    const int minute = (d >> 6) & 0x3F;
    const int halfHours = d & 0x1F;
    if (hour > 23 || minute > 59 || halfHours > 24) return std::nullopt;
    RDSClockTime time{.hourUTC = hour,
                      .minuteUTC = minute,
                      .localOffsetHalfHours = ((d >> 5) & 1U) ? -halfHours : halfHours};
    if (!dateFromMJD(mjd, time)) return std::nullopt;
    return time;
}
