// FIG parsing of DABFICDecoder: FIG 0/0, 0/1, 0/2 and the labels of FIG 1/0, 1/1, 1/5
// (EN 300 401 clauses 6 and 8.1.13). Every read is bounds-checked against the FIG's data.
#include <cstdio>

#include "dab/DABCharset.h"
#include "dab/DABEnsembleTables.h"
#include "dab/DABFICDecoder.h"

namespace {

constexpr std::uint8_t kEndMarker = 0xFF;
constexpr std::size_t kLabelBytes = 16;
constexpr std::size_t kMinLabelChars = 2;

std::vector<char32_t> toCodePoints(const std::string& utf8) {
    std::vector<char32_t> out;
    for (std::size_t n = 0; n < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[n]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        // The input comes from decodeDABText and is well-formed; the bound guards anyway.
        for (int k = 1; k <= extra && n + static_cast<std::size_t>(k) < utf8.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[n + static_cast<std::size_t>(k)]) & 0x3F);
        }
        out.push_back(cp);
        n += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

bool isWhiteSpace(char32_t c) {
    return c == U' ' || (c >= U'\t' && c <= U'\r') || c == 0x85 || c == 0xA0 || c == 0x2028 ||
           c == 0x2029 || c == 0x3000 || (c >= 0x2000 && c <= 0x200A);
}

// Letters of the scripts that labels are written in: Latin (with its extensions), Greek,
// Cyrillic, Armenian, Hebrew, Arabic, and the CJK ideographs, kana and Hangul.
bool isLetter(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z')) return true;
    if (c < 0xC0) return c == 0xAA || c == 0xB5 || c == 0xBA;
    if (c <= 0x24F) return c != 0xD7 && c != 0xF7;  // Latin-1 letters, Latin Extended-A/B
    struct Range {
        char32_t first, last;
    };
    static constexpr Range kRanges[] = {
        {0x0250, 0x02AF}, {0x0370, 0x0373}, {0x0376, 0x0377}, {0x037B, 0x037D}, {0x0386, 0x0386},
        {0x0388, 0x03FF}, {0x0400, 0x0481}, {0x048A, 0x052F}, {0x0531, 0x0556}, {0x0561, 0x0587},
        {0x05D0, 0x05EA}, {0x0620, 0x064A}, {0x1E00, 0x1FFF}, {0x3041, 0x3096}, {0x30A1, 0x30FA},
        {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3},
    };
    for (const Range& r : kRanges) {
        if (c >= r.first && c <= r.last) return c != 0x03F6;
    }
    return false;
}

bool isKeptLabelChar(char32_t c) {
    return isLetter(c) || (c >= U'0' && c <= U'9') || c == U' ' || c == U'-' || c == U'+';
}

std::size_t codePointCount(const std::string& utf8) {
    std::size_t n = 0;
    for (const char ch : utf8) n += (static_cast<unsigned char>(ch) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

std::string placeholderName(std::uint32_t sid, bool isData) {
    char text[16];
    std::snprintf(text, sizeof text, isData ? "SId %08X" : "SId %04X", static_cast<unsigned>(sid));
    return text;
}

std::uint32_t readBE(std::span<const std::uint8_t> data, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int k = 0; k < bytes; ++k) v = (v << 8) | data[at + static_cast<std::size_t>(k)];
    return v;
}

}  // namespace

void DABFICDecoder::parseFIB(std::span<const std::uint8_t> fibData, Accumulators& acc) {
    std::size_t i = 0;
    while (i < fibData.size()) {
        const std::uint8_t header = fibData[i];
        const std::size_t length = header & 0x1F;
        if (header == kEndMarker || length == 0) return;
        if (i + 1 + length > fibData.size()) return;
        const std::span<const std::uint8_t> data = fibData.subspan(i + 1, length);
        switch (header >> 5) {
            case 0: handleFIG0(data, acc); break;
            case 1: handleFIG1(data, acc); break;
            default: break;
        }
        i += 1 + length;
    }
}

void DABFICDecoder::handleFIG0(std::span<const std::uint8_t> data, Accumulators& acc) {
    if (data.empty()) return;
    const int extension = data[0] & 0x1F;
    const bool isData = (data[0] & 0x20) != 0;
    switch (extension) {
        case 0:
            if (data.size() >= 3) {
                const auto eid = static_cast<std::uint16_t>(readBE(data, 1, 2));
                if (eid != 0) acc.ensembleId = eid;
            }
            break;
        case 1: parseFIG0_1(data.subspan(1), acc.subchannels); break;
        case 2: parseFIG0_2(data.subspan(1), isData, acc); break;
        case 3: {
            // Service component in packet mode: SCId(12) rfa(3) SCCA flag(1) DG(1) rfu(1)
            // DSCTy(6) SubChId(6) packet address(10) [SCCA(16)].
            const std::span<const std::uint8_t> d = data.subspan(1);
            for (std::size_t i = 0; i + 5 <= d.size();) {
                const int scid = d[i] << 4 | d[i + 1] >> 4;
                const bool hasCA = (d[i + 1] & 0x01) != 0;
                acc.subchannelOfPacketComponent[scid] = d[i + 3] >> 2;
                i += hasCA ? 7 : 5;
            }
            break;
        }
        default: break;
    }
}

void DABFICDecoder::resolvePacketLinks(Accumulators& acc, std::map<int, int>& known) {
    for (const auto& [scid, subchannel] : acc.subchannelOfPacketComponent) known[scid] = subchannel;
    for (const auto& [sid, scid] : acc.packetComponentOfService) {
        auto link = acc.serviceLinks.find(sid);
        if (link == acc.serviceLinks.end()) continue;
        const auto sub = known.find(scid);
        link->second.primarySubchannelId =
            sub != known.end() ? std::optional<int>(sub->second) : std::nullopt;
    }
}

void DABFICDecoder::parseFIG0_1(std::span<const std::uint8_t> data,
                                std::map<int, DABSubchannel>& subchannels) {
    std::size_t i = 0;
    while (i + 3 <= data.size()) {
        const int id = data[i] >> 2;
        const int startCU = (data[i] & 0x03) << 8 | data[i + 1];
        if ((data[i + 2] & 0x80) != 0) {
            if (i + 4 > data.size()) return;
            subchannels[id] = DABSubchannel{.id = id,
                                            .startCU = startCU,
                                            .sizeCU = (data[i + 2] & 0x03) << 8 | data[i + 3],
                                            .protection = (data[i + 2] >> 2) & 0x1F,
                                            .isShort = false};
            i += 4;
        } else {
            // Short form: a 6-bit index into the UEP table fixes size, level and bit rate.
            const int index = data[i + 2] & 0x3F;
            const std::optional<dabtables::UEPEntry> entry = dabtables::uepEntry(index);
            subchannels[id] = DABSubchannel{.id = id,
                                            .startCU = startCU,
                                            .sizeCU = entry ? entry->sizeCU : 0,
                                            .protection = index,
                                            .isShort = true};
            i += 3;
        }
    }
}

void DABFICDecoder::parseFIG0_2(std::span<const std::uint8_t> data, bool isData, Accumulators& acc) {
    const std::size_t sidBytes = isData ? 4 : 2;
    std::size_t i = 0;
    while (i < data.size()) {
        const std::size_t fixed = sidBytes + 1;
        if (i + fixed > data.size()) return;
        const std::uint32_t sid = readBE(data, i, static_cast<int>(sidBytes));
        const std::size_t components = data[i + sidBytes] & 0x0F;
        std::optional<int> primary;
        std::optional<int> audioType;
        // The first component: a stream's SubChId sits in its second byte's upper six bits; a
        // packet component (TMId 3) carries its SCId there instead, resolved through FIG 0/3.
        if (components > 0 && i + fixed + 2 <= data.size()) {
            const std::uint8_t b0 = data[i + fixed], b1 = data[i + fixed + 1];
            if ((b0 >> 6) == 3) {
                acc.packetComponentOfService[sid] = (b0 & 0x3F) << 6 | b1 >> 2;
            } else {
                acc.packetComponentOfService.erase(sid);
                primary = b1 >> 2;
                if ((b0 >> 6) == 0) audioType = b0 & 0x3F;
            }
        }
        if (!acc.services.contains(sid)) {
            acc.services[sid] = DABService{.id = sid, .name = placeholderName(sid, isData), .isAudio = !isData};
        }
        acc.serviceLinks[sid] = DABServiceLink{
            .serviceId = sid, .primarySubchannelId = primary, .isAudio = !isData, .audioComponentType = audioType};
        i += fixed + 2 * components;
    }
}

void DABFICDecoder::handleFIG1(std::span<const std::uint8_t> data, Accumulators& acc) {
    if (data.size() < 5) return;
    const int charset = data[0] >> 4;
    const int extension = data[0] & 0x07;
    switch (extension) {
        case 0: {
            if (data.size() < 3 + kLabelBytes) return;
            const auto eid = static_cast<std::uint16_t>(readBE(data, 1, 2));
            if (eid != 0) acc.ensembleId = eid;
            const auto label = decodeFIGLabel(data.subspan(3, kLabelBytes), charset);
            if (label && codePointCount(*label) >= kMinLabelChars) acc.ensembleLabel = *label;
            break;
        }
        case 1:
        case 5: {
            const std::size_t sidBytes = extension == 1 ? 2 : 4;
            if (data.size() < 1 + sidBytes + kLabelBytes) return;
            const std::uint32_t sid = readBE(data, 1, static_cast<int>(sidBytes));
            const auto label = decodeFIGLabel(data.subspan(1 + sidBytes, kLabelBytes), charset);
            if (label && codePointCount(*label) >= kMinLabelChars) {
                acc.services[sid] = DABService{.id = sid, .name = *label, .isAudio = extension == 1};
            }
            break;
        }
        default: break;
    }
}

std::optional<std::string> DABFICDecoder::decodeFIGLabel(std::span<const std::uint8_t> label, int charset) {
    std::size_t run = 0;
    while (run < label.size() && label[run] != 0x00 && label[run] != 0xFF) ++run;
    if (run == 0) return std::nullopt;
    const std::vector<char32_t> chars = toCodePoints(decodeDABText(label.first(run), charset));
    std::size_t first = 0, last = chars.size();
    while (first < last && isWhiteSpace(chars[first])) ++first;
    while (last > first && isWhiteSpace(chars[last - 1])) --last;
    std::string out;
    for (std::size_t n = first; n < last; ++n) {
        if (isKeptLabelChar(chars[n])) appendUTF8(out, chars[n]);
    }
    if (out.empty()) return std::nullopt;
    return out;
}
