#include "dab/DABPADDecoder.h"

#include <algorithm>
#include <array>

#include "dab/DABCRC16.h"
#include "dab/DABDataGroup.h"
#include "dab/PNGBody.h"
#include "platform/ByteHash.h"
#include "platform/DebugLog.h"

namespace {

constexpr int kIdDSE = 4;  // ISO/IEC 14496-3 id_syn_ele of a data stream element
constexpr int kXPADShort = 1;
constexpr int kXPADVariable = 2;
constexpr std::size_t kShortXPADBytes = 4;
constexpr std::size_t kMaxContentsIndicators = 4;
// Variable-size X-PAD subfield lengths by the CI's 3-bit length index (clause 7.4.2.2).
constexpr std::array<std::size_t, 8> kSubfieldBytes = {4, 6, 8, 12, 16, 24, 32, 48};
constexpr std::size_t kLengthIndicatorBytes = 4;  // 14-bit length and CRC-16

}  // namespace

DABPADDecoder::DABPADDecoder() {
    label.onDynamicLabel = [this](const std::string& text, const std::optional<std::string>& artist,
                                  const std::optional<std::string>& title) {
        if (onDynamicLabel) onDynamicLabel(text, artist, title);
    };
}

void DABPADDecoder::reset() {
    label.reset();
    mot.reset();
    lastAppType = kAppEnd;
    lengthIndicator.clear();
    nextMOTLength.reset();
    labelGroup.clear();
    labelCollecting = false;
    motGroup.clear();
    motExpected = 0;
    motCollecting = false;
    lastSlideHash = 0;
    groupCRCFails = 0;
    rejectedSlides = 0;
}

std::optional<std::span<const std::uint8_t>> DABPADDecoder::dsePayload(
    std::span<const std::uint8_t> au) {
    // id_syn_ele (3), element_instance_tag (4), data_byte_align_flag (1), count (8) and,
    // when count is 255, esc_count (8). The AU starts byte-aligned, so the data bytes do too.
    if (au.size() < 2 || (au[0] >> 5) != kIdDSE) return std::nullopt;
    std::size_t count = au[1];
    std::size_t pos = 2;
    if (count == 255) {
        if (au.size() < 3) return std::nullopt;
        count += au[2];
        pos = 3;
    }
    if (au.size() - pos < count) return std::nullopt;
    return au.subspan(pos, count);
}

void DABPADDecoder::pushAccessUnit(std::span<const std::uint8_t> au) {
    if (const auto pad = dsePayload(au)) pushPAD(*pad);
}

void DABPADDecoder::pushPAD(std::span<const std::uint8_t> pad) {
    if (pad.size() < 2) return;
    // F-PAD (clause 7.4.1): byte L−1 = type (2), X-PAD indicator (2), …; byte L = …, CI flag
    // (bit 1), Z (bit 0).
    const std::uint8_t fpad0 = pad[pad.size() - 2];
    const std::uint8_t fpad1 = pad[pad.size() - 1];
    if ((fpad0 >> 6) != 0) return;  // only F-PAD type 0 signals X-PAD
    const int xpadIndicator = (fpad0 >> 4) & 0x03;
    const bool hasCI = (fpad1 & 0x02) != 0;
    if (xpadIndicator != kXPADShort && xpadIndicator != kXPADVariable) return;

    xpad.assign(pad.rbegin() + 2, pad.rend());
    const std::span<const std::uint8_t> x(xpad);
    if (xpadIndicator == kXPADShort) {
        const std::span<const std::uint8_t> field = x.first(std::min(x.size(), kShortXPADBytes));
        if (!hasCI) {
            continuation(field);
        } else if (!field.empty()) {
            subfield(field[0] & 0x1F, field.subspan(1));
        }
        return;
    }
    if (!hasCI) {
        continuation(x);
        return;
    }
    // Variable size: up to four contents indicators, ended early by application type 0, then
    // the subfields in the same order.
    std::array<std::pair<int, std::size_t>, kMaxContentsIndicators> list{};
    std::size_t listed = 0, pos = 0;
    while (listed < kMaxContentsIndicators && pos < x.size()) {
        const std::uint8_t ci = x[pos++];
        if ((ci & 0x1F) == kAppEnd) break;
        list[listed++] = {ci & 0x1F, kSubfieldBytes[ci >> 5]};
    }
    for (std::size_t n = 0; n < listed && pos < x.size(); ++n) {
        const std::size_t take = std::min(list[n].second, x.size() - pos);
        subfield(list[n].first, x.subspan(pos, take));
        pos += take;
    }
}

void DABPADDecoder::subfield(int appType, std::span<const std::uint8_t> data) {
    lastAppType = appType;
    switch (appType) {
        case kAppDataGroupLength:
            feedLengthIndicator(data, true);
            break;
        case kAppDLStart:
            feedLabel(data, true);
            break;
        case kAppDLContinue:
            feedLabel(data, false);
            break;
        case kAppMOTStart:
            feedMOT(data, true);
            break;
        case kAppMOTContinue:
            feedMOT(data, false);
            break;
        default:
            break;  // other applications are not decoded
    }
}

void DABPADDecoder::continuation(std::span<const std::uint8_t> data) {
    switch (lastAppType) {
        case kAppDataGroupLength:
            feedLengthIndicator(data, false);
            break;
        case kAppDLStart:
        case kAppDLContinue:
            feedLabel(data, false);
            break;
        case kAppMOTStart:
        case kAppMOTContinue:
            feedMOT(data, false);
            break;
        default:
            break;
    }
}

void DABPADDecoder::feedLengthIndicator(std::span<const std::uint8_t> data, bool start) {
    if (start) lengthIndicator.clear();
    if (lengthIndicator.size() >= kLengthIndicatorBytes) return;
    const std::size_t take = std::min(data.size(), kLengthIndicatorBytes - lengthIndicator.size());
    lengthIndicator.insert(lengthIndicator.end(), data.begin(),
                           data.begin() + static_cast<std::ptrdiff_t>(take));
    if (lengthIndicator.size() < kLengthIndicatorBytes) return;
    // Clause 7.4.5.1.1: Rfa (2 bits), data group length (14 bits), CRC-16 over both bytes.
    if (DABCRC16::verifyIncludingTrailer(lengthIndicator)) {
        nextMOTLength =
            static_cast<std::size_t>(((lengthIndicator[0] & 0x3F) << 8) | lengthIndicator[1]);
    } else {
        ++groupCRCFails;
        nextMOTLength.reset();
    }
}

void DABPADDecoder::feedLabel(std::span<const std::uint8_t> data, bool start) {
    if (start) {
        labelGroup.clear();
        labelCollecting = true;
    }
    if (!labelCollecting) return;
    labelGroup.insert(labelGroup.end(), data.begin(), data.end());
    if (labelGroup.size() < 2) return;
    const std::size_t length = DABDynamicLabel::groupLength(labelGroup[0], labelGroup[1]);
    if (labelGroup.size() < length) return;
    // The subfield may pad the group with zeros; they are not part of it.
    label.pushDataGroup(std::span(labelGroup).first(length));
    labelGroup.clear();
    labelCollecting = false;
}

void DABPADDecoder::feedMOT(std::span<const std::uint8_t> data, bool start) {
    if (start) {
        motGroup.clear();
        // Without a length indicator the group's end cannot be found; it is skipped.
        motCollecting = nextMOTLength.has_value() && *nextMOTLength > 0;
        motExpected = nextMOTLength.value_or(0);
        nextMOTLength.reset();
    }
    if (!motCollecting) return;
    motGroup.insert(motGroup.end(), data.begin(), data.end());
    if (motGroup.size() < motExpected) return;
    motCollecting = false;
    const std::optional<DABDataGroup> group =
        DABDataGroup::parse(std::span(motGroup).first(motExpected));
    motGroup.clear();
    if (!group) return;
    if (!group->crcOK) {
        ++groupCRCFails;
        return;
    }
    if (const std::optional<MOTObject> object = mot.ingest(*group)) deliverObject(*object);
}

void DABPADDecoder::deliverObject(const MOTObject& object) {
    std::vector<std::uint8_t> body;
    std::string mimeType;
    const std::vector<std::uint8_t>& raw = object.body;
    if (raw.size() >= 3 && raw[0] == 0xFF && raw[1] == 0xD8 && raw[2] == 0xFF) {
        body = raw;
        mimeType = "image/jpeg";
    } else if (auto png = PNGBody::validate(raw)) {
        body = std::move(*png);
        mimeType = "image/png";
    } else {
        ++rejectedSlides;
        DebugLog::writef("PAD MOT tid=%04X not an image (%s, %zu bytes)", object.transportId,
                         object.header.typeName().c_str(), raw.size());
        return;
    }
    const std::uint64_t hash = fnv1a64(body);
    if (hash == lastSlideHash) return;  // carousels repeat each slide
    lastSlideHash = hash;
    if (onSlide) onSlide(body, object.header.contentName.value_or(""), mimeType);
}
