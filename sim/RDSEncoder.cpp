#include "sim/RDSEncoder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <numbers>
#include <utility>

#include "sim/RDSEncoderTables.h"

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPilotCyclesPerBit = 16.0;  // 19 kHz / 1187.5 bit/s
constexpr double kCarrierPerPilot = 3.0;     // 57 kHz / 19 kHz

// IEC 62106 Annex B: g(x) = x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1 and the offset words.
constexpr std::uint32_t kGeneratorLow = 0x1B9;  // g(x) without the x^10 term
constexpr std::uint32_t offsetWord(RDSEncoder::Offset offset) {
    switch (offset) {
        case RDSEncoder::Offset::a:
            return 0x0FC;
        case RDSEncoder::Offset::b:
            return 0x198;
        case RDSEncoder::Offset::c:
            return 0x168;
        case RDSEncoder::Offset::cPrime:
            return 0x350;
        case RDSEncoder::Offset::d:
            return 0x1B4;
    }
    return 0;
}

// Symbol shape table: 64 points per bit over [-2, 3) bits relative to the bit's start.
constexpr int kShapePointsPerBit = 64;
constexpr int kShapeFirstBit = -2;
constexpr int kShapeBits = 5;

// Transmitter pulse: the square root of the overall data shaping cos(pi f td / 4) for
// 0 <= f <= 2/td, which EN 50067 splits equally between transmitter and receiver. Time x in
// bits; integrated numerically by the midpoint rule over f.
double transmitPulse(double x) {
    constexpr int kSteps = 512;
    double sum = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double f = (i + 0.5) * 2.0 / kSteps;
        sum += std::sqrt(std::cos(std::numbers::pi * f / 4.0)) * std::cos(kTwoPi * f * x);
    }
    return 2.0 * sum * 2.0 / kSteps;
}

std::vector<float> makeSymbolShape() {
    // A biphase symbol is the impulse pair +d(t - td/4) - d(t - 3td/4) through the pulse, so
    // its positive half lies in the first half of the bit.
    const int count = kShapeBits * kShapePointsPerBit + 1;
    std::vector<double> shape(count);
    for (int i = 0; i < count; ++i) {
        const double x = kShapeFirstBit + static_cast<double>(i) / kShapePointsPerBit;
        shape[i] = transmitPulse(x - 0.25) - transmitPulse(x - 0.75);
    }
    // Scale so that the worst-case sum of the five overlapping symbols is 1.
    double worst = 0.0;
    for (int i = 0; i < kShapePointsPerBit; ++i) {
        double total = 0.0;
        for (int b = 0; b < kShapeBits; ++b) total += std::fabs(shape[i + b * kShapePointsPerBit]);
        worst = std::max(worst, total);
    }
    std::vector<float> out(count);
    for (int i = 0; i < count; ++i) out[i] = static_cast<float>(shape[i] / worst);
    return out;
}

// Group types sent in the slots not taken by 0A and 2A, in turn; one the station does not
// send leaves its slot to 0A/2A. 18 groups apart (1.6 s) for 1A, 3A and 10A, 11A every 6.
constexpr std::array<int, 6> kOtherGroups = {1, 11, 3, 11, 10, 11};
constexpr int kBitsPerGroup = 104;
constexpr std::int64_t kBitsPerMinute = 71'250;  // 60 s x 1187.5 bit/s
constexpr std::int64_t kFirstClockGroup = 12;    // about 1 s in, after a receiver has synced
constexpr std::uint16_t kRadioTextPlusAID = 0x4BD7;
constexpr int kRadioTextPlusGroupType = 11;  // 11A carries the tags

std::string padded(std::string bytes, std::size_t size) {
    bytes.resize(size, ' ');
    return bytes;
}

std::uint16_t pair(char hi, char lo) {
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(hi) << 8) |
                                      static_cast<std::uint8_t>(lo));
}

// AF codes 1..204 are 87.6..107.9 MHz in 100 kHz steps (EN 50067, AF coding).
std::optional<std::uint8_t> afCode(int frequencyKHz) {
    if (frequencyKHz < 87'600 || frequencyKHz > 107'900 || frequencyKHz % 100 != 0) return {};
    return static_cast<std::uint8_t>((frequencyKHz - 87'500) / 100);
}

// Method A: (224 + count, first AF), then the rest in pairs, 205 filling an odd remainder.
std::vector<std::uint16_t> methodAPairs(const std::vector<int>& frequenciesKHz) {
    std::vector<std::uint8_t> codes;
    for (int f : frequenciesKHz) {
        if (const auto code = afCode(f); code && codes.size() < 25) codes.push_back(*code);
    }
    if (codes.empty()) return {static_cast<std::uint16_t>((224 << 8) | 205)};
    std::vector<std::uint16_t> pairs{
        static_cast<std::uint16_t>(((224 + codes.size()) << 8) | codes[0])};
    for (std::size_t i = 1; i < codes.size(); i += 2) {
        const int second = i + 1 < codes.size() ? codes[i + 1] : 205;
        pairs.push_back(static_cast<std::uint16_t>((codes[i] << 8) | second));
    }
    return pairs;
}

// RadioText+ tags that the group can carry for a text of textLength characters: start and
// length inside the text, the second tag's length within its 5-bit marker.
std::vector<RDSEncoderTag> usableTags(const std::vector<RDSEncoderTag>& tags, int textLength) {
    std::vector<RDSEncoderTag> out;
    for (const RDSEncoderTag& t : tags) {
        const bool fits = t.contentType >= 0 && t.contentType <= 63 && t.start >= 0 &&
                          t.start <= 63 && t.length >= 1 && t.length <= 64 &&
                          t.start + t.length <= textLength;
        if (fits && out.size() < 2) out.push_back(t);
    }
    if (out.size() == 2 && out[1].length > 32) {
        if (out[0].length <= 32) {
            std::swap(out[0], out[1]);
        } else {
            out.pop_back();
        }
    }
    return out;
}

}  // namespace

RDSEncoder::RDSEncoder(RDSEncoderConfig cfg) : config(std::move(cfg)) {
    config.pty &= 0x1F;
    psBytes = padded(rdsBytesFromUTF8(config.ps), 8);
    setRadioText(config.radioText, config.radioTextPlusTags);
    abFlag = 0;
    itemToggle = false;
    setPTYName(config.ptyName);
    ptynFlag = 0;
    afPairs = methodAPairs(config.alternativeFrequenciesKHz);
    if (config.clockTime) {
        // Out-of-range fields are pulled into the range the group can carry.
        RDSEncoderClockTime& t = *config.clockTime;
        t.year = std::clamp(t.year, 1900, 2100);
        t.month = std::clamp(t.month, 1, 12);
        t.day = std::clamp(t.day, 1, 31);
        t.localOffsetHalfHours = std::clamp(t.localOffsetHalfHours, -31, 31);
        startMJD = modifiedJulianDay(t.year, t.month, t.day);
        startMinuteOfDay = std::clamp(t.hourUTC, 0, 23) * 60 + std::clamp(t.minuteUTC, 0, 59);
    }
    symbolShape = makeSymbolShape();
    bitFraction = std::clamp(config.initialBitOffset, 0.0, 0.999999);
}

std::uint32_t RDSEncoder::encodeBlock(std::uint16_t info, Offset offset) {
    // Remainder of info(x) * x^10 divided by g(x), one information bit at a time, MSB first.
    std::uint32_t reg = 0;
    for (int i = 15; i >= 0; --i) {
        const std::uint32_t feedback = ((info >> i) & 1U) ^ ((reg >> 9) & 1U);
        reg = (reg << 1) & 0x3FF;
        if (feedback) reg ^= kGeneratorLow;
    }
    return (static_cast<std::uint32_t>(info) << 10) | (reg ^ offsetWord(offset));
}

int RDSEncoder::modifiedJulianDay(int year, int month, int day) {
    // EN 50067 Annex G: K = 1 for January and February, which count as months 13 and 14.
    const int y = year - 1900;
    const int k = month <= 2 ? 1 : 0;
    return 14956 + day + static_cast<int>((y - k) * 365.25) +
           static_cast<int>((month + 1 + k * 12) * 30.6001);
}

std::vector<RDSEncoderTag> RDSEncoder::itemTags(const std::string& text, const std::string& artist,
                                                const std::string& title) {
    std::vector<RDSEncoderTag> tags;
    const auto add = [&](int contentType, const std::string& part) {
        const std::size_t at = part.empty() ? std::string::npos : text.find(part);
        if (at == std::string::npos) return;
        // One RDS character per UTF-8 character, so the encoded lengths are the markers.
        tags.push_back(
            {.contentType = contentType,
             .start = static_cast<int>(rdsBytesFromUTF8(text.substr(0, at), true).size()),
             .length = static_cast<int>(rdsBytesFromUTF8(part, true).size())});
    };
    add(4, artist);
    add(1, title);
    return tags;
}

void RDSEncoder::setRadioText(const std::string& text, const std::vector<RDSEncoderTag>& tags) {
    const std::size_t capacity = config.versionB ? 32 : 64;
    std::string bytes = rdsBytesFromUTF8(text, true);
    if (bytes.size() > capacity) bytes.resize(capacity);
    const std::size_t length = bytes.size();
    // A text shorter than the message ends with a carriage return (EN 50067, type 2 groups).
    std::string next = padded(bytes, capacity);
    if (length < capacity) next[length] = '\r';
    const std::size_t perSegment = config.versionB ? 2 : 4;
    const int segments =
        text.empty() ? 0 : static_cast<int>(std::min<std::size_t>(16, length / perSegment + 1));
    if (next != rtBytes || segments != rtSegments) {
        abFlag ^= 1;
        rtSegment = 0;
        itemToggle = !itemToggle;
    }
    rtBytes = next;
    rtSegments = segments;
    rtPlusTags = usableTags(tags, static_cast<int>(length));
}

void RDSEncoder::setPTYName(const std::string& name) {
    const std::string next = name.empty() ? std::string() : padded(rdsBytesFromUTF8(name), 8);
    if (next != ptynBytes) {
        ptynFlag ^= 1;
        ptynSegment = 0;
    }
    ptynBytes = next;
}

void RDSEncoder::setTA(bool ta) {
    config.ta = ta;
}

bool RDSEncoder::isClockDue() const {
    if (!config.clockTime) return false;
    if (nextClockMinute == 0) return groupCount >= kFirstClockGroup;
    return groupCount * kBitsPerGroup >= nextClockMinute * kBitsPerMinute;
}

int RDSEncoder::chooseGroupType() {
    if (isClockDue()) return 4;
    if (slot++ % 3 == 2) {
        const int type = kOtherGroups[static_cast<std::size_t>(extraIndex)];
        extraIndex = (extraIndex + 1) % static_cast<int>(kOtherGroups.size());
        const bool sent = (type == 1 && (config.extendedCountryCode || config.languageCode)) ||
                          ((type == 3 || type == 11) && config.radioTextPlus) ||
                          (type == 10 && !ptynBytes.empty());
        if (sent) return type;
    }
    const bool text = nextIsText && rtSegments > 0;
    nextIsText = !nextIsText;
    return text ? 2 : 0;
}

std::uint16_t RDSEncoder::blockB(int type, bool versionB, int low5) const {
    return static_cast<std::uint16_t>((type << 12) | (versionB ? 1 << 11 : 0) |
                                      (config.tp ? 1 << 10 : 0) | (config.pty << 5) | low5);
}

RDSEncoder::Group RDSEncoder::basicGroup() {
    const int a = psSegment;
    psSegment = (psSegment + 1) % 4;
    // Segment address 3 carries d0 (stereo) down to address 0 with d3 (dynamic PTY).
    const bool flags[4] = {config.dynamicPTY, config.compressed, config.artificialHead,
                           config.stereo};
    const int low5 =
        (config.ta ? 1 << 4 : 0) | (config.music ? 1 << 3 : 0) | (flags[a] ? 1 << 2 : 0) | a;
    const std::uint16_t d = pair(psBytes[2 * a], psBytes[2 * a + 1]);
    if (config.versionB)
        return {{config.pi, blockB(0, true, low5), config.pi, d},
                {Offset::a, Offset::b, Offset::cPrime, Offset::d}};
    const std::uint16_t c = afPairs[afIndex];
    afIndex = (afIndex + 1) % afPairs.size();
    return {{config.pi, blockB(0, false, low5), c, d},
            {Offset::a, Offset::b, Offset::c, Offset::d}};
}

RDSEncoder::Group RDSEncoder::textGroup() {
    const int a = rtSegment;
    rtSegment = (rtSegment + 1) % rtSegments;
    const int low5 = (abFlag << 4) | a;
    if (config.versionB)
        return {
            {config.pi, blockB(2, true, low5), config.pi, pair(rtBytes[2 * a], rtBytes[2 * a + 1])},
            {Offset::a, Offset::b, Offset::cPrime, Offset::d}};
    return {{config.pi, blockB(2, false, low5), pair(rtBytes[4 * a], rtBytes[4 * a + 1]),
             pair(rtBytes[4 * a + 2], rtBytes[4 * a + 3])},
            {Offset::a, Offset::b, Offset::c, Offset::d}};
}

// Variant 0 carries the ECC, variant 3 the language code; both in turn when both are set.
RDSEncoder::Group RDSEncoder::identificationGroup() {
    const bool language =
        config.languageCode && (!config.extendedCountryCode || nextIdentificationIsLanguage);
    nextIdentificationIsLanguage = !nextIdentificationIsLanguage;
    const std::uint16_t c =
        language ? static_cast<std::uint16_t>((3 << 12) | (*config.languageCode & 0xFFF))
                 : static_cast<std::uint16_t>(*config.extendedCountryCode);
    return {{config.pi, blockB(1, false, 0), c, config.programmeItemNumber},
            {Offset::a, Offset::b, Offset::c, Offset::d}};
}

// The minute of signal time that has just begun, as MJD, UTC hour and minute (EN 50067,
// type 4A groups): 17 bits of MJD across blocks B and C, the hour across C and D.
RDSEncoder::Group RDSEncoder::clockGroup() {
    const std::int64_t minute = groupCount * kBitsPerGroup / kBitsPerMinute;
    nextClockMinute = minute + 1;
    const std::int64_t total = startMinuteOfDay + minute;
    const auto mjd = static_cast<std::uint32_t>(startMJD + total / 1440) & 0x1FFFF;
    const int hour = static_cast<int>(total % 1440) / 60;
    const int minuteOfHour = static_cast<int>(total % 60);
    const int offset = config.clockTime->localOffsetHalfHours;
    const int magnitude = std::abs(offset);
    const auto c = static_cast<std::uint16_t>(((mjd & 0x7FFF) << 1) | (hour >> 4));
    const auto d = static_cast<std::uint16_t>(((hour & 0xF) << 12) | (minuteOfHour << 6) |
                                              (offset < 0 ? 1 << 5 : 0) | magnitude);
    return {{config.pi, blockB(4, false, static_cast<int>(mjd >> 15)), c, d},
            {Offset::a, Offset::b, Offset::c, Offset::d}};
}

// RadioText+ announced: the tags travel in 11A, message bits 0 (template 0, no CB/SCB).
RDSEncoder::Group RDSEncoder::odaGroup() const {
    return {{config.pi, blockB(3, false, kRadioTextPlusGroupType << 1), 0, kRadioTextPlusAID},
            {Offset::a, Offset::b, Offset::c, Offset::d}};
}

RDSEncoder::Group RDSEncoder::ptyNameGroup() {
    const int a = ptynSegment;
    ptynSegment ^= 1;
    return {{config.pi, blockB(10, false, (ptynFlag << 4) | a),
             pair(ptynBytes[4 * a], ptynBytes[4 * a + 1]),
             pair(ptynBytes[4 * a + 2], ptynBytes[4 * a + 3])},
            {Offset::a, Offset::b, Offset::c, Offset::d}};
}

// Two tags in 37 bits: toggle, running, then type 1 (6), start 1 (6), length 1 (6), type 2
// (6), start 2 (6), length 2 (5); lengths are sent minus one. No tag: content type 0.
RDSEncoder::Group RDSEncoder::radioTextPlusGroup() const {
    const RDSEncoderTag none{};
    const RDSEncoderTag& t1 = rtPlusTags.size() > 0 ? rtPlusTags[0] : none;
    const RDSEncoderTag& t2 = rtPlusTags.size() > 1 ? rtPlusTags[1] : none;
    const int length1 = std::max(t1.length - 1, 0);
    const int length2 = std::max(t2.length - 1, 0);
    const int low5 = (itemToggle ? 1 << 4 : 0) | (1 << 3) | (t1.contentType >> 3);
    const auto c = static_cast<std::uint16_t>(((t1.contentType & 7) << 13) | (t1.start << 7) |
                                              (length1 << 1) | (t2.contentType >> 5));
    const auto d =
        static_cast<std::uint16_t>(((t2.contentType & 0x1F) << 11) | (t2.start << 5) | length2);
    return {{config.pi, blockB(kRadioTextPlusGroupType, false, low5), c, d},
            {Offset::a, Offset::b, Offset::c, Offset::d}};
}

RDSEncoder::Group RDSEncoder::nextGroup() {
    Group g;
    switch (chooseGroupType()) {
        case 1:
            g = identificationGroup();
            break;
        case 2:
            g = textGroup();
            break;
        case 3:
            g = odaGroup();
            break;
        case 4:
            g = clockGroup();
            break;
        case 10:
            g = ptyNameGroup();
            break;
        case 11:
            g = radioTextPlusGroup();
            break;
        default:
            g = basicGroup();
            break;
    }
    ++groupCount;
    return g;
}

int RDSEncoder::nextDataBit() {
    if (groupBitIndex >= kBitsPerGroup) {
        const Group g = nextGroup();
        for (std::size_t i = 0; i < 4; ++i) groupBlocks[i] = encodeBlock(g.info[i], g.offsets[i]);
        groupBitIndex = 0;
    }
    const int block = groupBitIndex / 26;
    const int bit = 25 - groupBitIndex % 26;
    ++groupBitIndex;
    return static_cast<int>((groupBlocks[block] >> bit) & 1U);
}

// Codes the next data bit differentially (EN 50067 differential coding: e_k = d_k xor e_k-1) and
// stores its polarity two bits ahead of the bit being sent.
void RDSEncoder::pushBit() {
    lastCodedBit ^= nextDataBit();
    polarity[static_cast<std::size_t>(nextCodedIndex & 7)] = lastCodedBit ? 1.0f : -1.0f;
    ++nextCodedIndex;
}

float RDSEncoder::baseband(double fraction) const {
    float sum = 0.0f;
    for (int j = -2; j <= 2; ++j) {
        // Bit bitIndex + j seen at offset fraction - j bits from its start.
        const double x = (fraction - j - kShapeFirstBit) * kShapePointsPerBit;
        const int i = std::clamp(static_cast<int>(x), 0, kShapeBits * kShapePointsPerBit - 1);
        const float t = static_cast<float>(x - i);
        const float shape = symbolShape[i] + t * (symbolShape[i + 1] - symbolShape[i]);
        sum += polarity[static_cast<std::size_t>((bitIndex + j) & 7)] * shape;
    }
    return sum;
}

void RDSEncoder::render(std::span<float> mpx, RDSPilotClock pilot) {
    // Bits 0, 1 and 2 are coded before the first sample; bits -2 and -1 stay silent.
    while (nextCodedIndex < 3) pushBit();
    const double bitsPerSample = pilot.radPerSample / (kTwoPi * kPilotCyclesPerBit);
    std::complex<double> carrier =
        std::polar(1.0, kCarrierPerPilot * pilot.phaseRad + config.carrierPhaseRad);
    const std::complex<double> step = std::polar(1.0, kCarrierPerPilot * pilot.radPerSample);
    const float amplitude = config.amplitude;
    for (float& out : mpx) {
        out += amplitude * baseband(bitFraction) * static_cast<float>(carrier.real());
        carrier *= step;
        bitFraction += bitsPerSample;
        if (bitFraction >= 1.0) {
            bitFraction -= 1.0;
            ++bitIndex;
            pushBit();
        }
    }
}
