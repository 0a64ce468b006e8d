#include "sim/DABTxFIGs.h"

#include <cassert>

#include "sim/DABTxTables.h"

namespace {
constexpr std::size_t kLabelBytes = 16;
// A FIG's 5-bit length counts its data field; the header byte comes on top.
constexpr std::size_t kMaxFIGData = kDABTxFIBDataBytes - 1;

// Header byte (type, length) followed by the data field.
DABTxFIG finish(int type, const std::vector<std::uint8_t>& data) {
    assert(data.size() <= kMaxFIGData);
    DABTxFIG fig;
    fig.push_back(static_cast<std::uint8_t>((type << 5) | static_cast<int>(data.size())));
    fig.insert(fig.end(), data.begin(), data.end());
    return fig;
}

// The type 0 data field header: C/N = 0, OE = 0, P/D, extension.
std::uint8_t type0Header(bool pd, int extension) {
    return static_cast<std::uint8_t>((pd ? 0x20 : 0x00) | extension);
}

// Fills FIGs of one extension with whole entries, starting a new FIG when one is full.
std::vector<DABTxFIG> packEntries(bool pd, int extension,
                                  const std::vector<std::vector<std::uint8_t>>& entries) {
    std::vector<DABTxFIG> figs;
    std::vector<std::uint8_t> data{type0Header(pd, extension)};
    for (const auto& e : entries) {
        if (data.size() + e.size() > kMaxFIGData) {
            figs.push_back(finish(0, data));
            data.assign(1, type0Header(pd, extension));
        }
        data.insert(data.end(), e.begin(), e.end());
    }
    if (data.size() > 1) figs.push_back(finish(0, data));
    return figs;
}

void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x >> 8));
    v.push_back(static_cast<std::uint8_t>(x));
}

DABTxFIG labelFIG(int extension, std::uint32_t id, int idBytes, const std::string& label) {
    std::vector<std::uint8_t> data{static_cast<std::uint8_t>(extension)};  // charset 0, OE = 0
    for (int b = idBytes - 1; b >= 0; --b) data.push_back(static_cast<std::uint8_t>(id >> (8 * b)));
    const auto bytes = dabTxLabelBytes(label);
    data.insert(data.end(), bytes.begin(), bytes.end());
    put16(data, dabTxShortLabelFlags(bytes));
    return finish(1, data);
}
}  // namespace

std::vector<std::uint8_t> dabTxLabelBytes(const std::string& utf8) {
    std::string encoded = dabTxEncodeCharset0(utf8);
    encoded.resize(kLabelBytes, ' ');
    return {encoded.begin(), encoded.end()};
}

std::uint16_t dabTxShortLabelFlags(const std::vector<std::uint8_t>& labelBytes) {
    std::uint16_t flags = 0;
    int chosen = 0;
    for (std::size_t k = 0; k < labelBytes.size() && k < kLabelBytes && chosen < 8; ++k) {
        if (labelBytes[k] == ' ') continue;
        flags |= static_cast<std::uint16_t>(0x8000u >> k);
        ++chosen;
    }
    return flags;
}

DABTxFIG dabTxFIG00(std::uint16_t eid, int cifCount) {
    assert(cifCount >= 0 && cifCount < kDABTxCIFCountModulo);
    std::vector<std::uint8_t> data{type0Header(false, 0)};
    put16(data, eid);
    // Change flags 00 and AL 0, then the count as 5 bits modulo 20 and 8 bits modulo 250.
    data.push_back(static_cast<std::uint8_t>(cifCount / 250));
    data.push_back(static_cast<std::uint8_t>(cifCount % 250));
    return finish(0, data);
}

std::vector<DABTxFIG> dabTxFIG01(const DABTxEnsemble& ensemble) {
    std::vector<std::vector<std::uint8_t>> entries;
    for (const DABTxSubchannel& s : ensemble.subchannels) {
        std::vector<std::uint8_t> e;
        put16(e, (static_cast<std::uint32_t>(s.id & 0x3F) << 10) | (s.startCU & 0x3FF));
        if (s.protection == DABTxProtection::uep) {
            e.push_back(static_cast<std::uint8_t>(s.uepIndex & 0x3F));  // short form, table 0
        } else {
            // Long form, option 000 (set A), protection level code = level - 1, 10-bit size.
            e.push_back(static_cast<std::uint8_t>(0x80 | ((s.eepLevel - 1) & 3) << 2 | ((s.sizeCU >> 8) & 3)));
            e.push_back(static_cast<std::uint8_t>(s.sizeCU));
        }
        entries.push_back(std::move(e));
    }
    return packEntries(false, 1, entries);
}

std::vector<DABTxFIG> dabTxFIG02(const DABTxEnsemble& ensemble) {
    constexpr std::uint8_t kDABPlusAudio = 63;  // ASCTy
    std::vector<std::vector<std::uint8_t>> entries;
    for (const DABTxService& s : ensemble.services) {
        std::vector<std::uint8_t> e;
        put16(e, s.sid);
        e.push_back(0x01);  // Rfa 0, CAId 0, one component
        e.push_back(kDABPlusAudio);  // TMId 00: stream audio
        e.push_back(static_cast<std::uint8_t>((s.subchannelId & 0x3F) << 2 | 0x02));  // primary, no CA
        entries.push_back(std::move(e));
    }
    std::vector<DABTxFIG> figs = packEntries(false, 2, entries);
    if (const auto& d = ensemble.dataService) {
        std::vector<std::uint8_t> e;
        put16(e, d->sid >> 16);
        put16(e, d->sid & 0xFFFF);
        e.push_back(0x01);
        // TMId 11: packet data, identified by its SCId; primary, no CA.
        put16(e, 0xC000u | (static_cast<std::uint32_t>(d->serviceComponentId & 0xFFF) << 2) | 0x02u);
        const auto data = packEntries(true, 2, {e});
        figs.insert(figs.end(), data.begin(), data.end());
    }
    return figs;
}

std::vector<DABTxFIG> dabTxFIG03(const DABTxEnsemble& ensemble) {
    if (!ensemble.dataService) return {};
    const DABTxDataService& d = *ensemble.dataService;
    std::vector<std::uint8_t> e;
    // SCId (12), Rfa (3), SCCA flag 0; DG flag 0 (data groups used), Rfu, DSCTy (6);
    // SubChId (6), packet address (10).
    put16(e, static_cast<std::uint32_t>(d.serviceComponentId & 0xFFF) << 4);
    e.push_back(static_cast<std::uint8_t>(d.dataServiceType & 0x3F));
    put16(e, (static_cast<std::uint32_t>(d.subchannelId & 0x3F) << 10) | (d.packetAddress & 0x3FF));
    return packEntries(false, 3, {e});
}

std::vector<DABTxFIG> dabTxFIG013(const DABTxEnsemble& ensemble) {
    constexpr std::uint32_t kSlideshow = 0x002;
    constexpr std::uint8_t kMOTApplication = 12;  // X-PAD application type of the MOT data groups
    constexpr std::uint8_t kMOT = 60;             // DSCTy
    std::vector<std::vector<std::uint8_t>> entries;
    for (const DABTxService& s : ensemble.services) {
        if (!s.hasSlideshow) continue;
        std::vector<std::uint8_t> e;
        put16(e, s.sid);
        e.push_back(0x01);  // SCIdS 0 (primary component), one application
        // 11-bit type, 5-bit data length; then CA flag 0, CA org flag 0, Rfu, X-PAD application
        // type; DG flag 0 (data groups with CRC), Rfu, DSCTy.
        put16(e, kSlideshow << 5 | 2);
        e.push_back(kMOTApplication);
        e.push_back(kMOT);
        entries.push_back(std::move(e));
    }
    return packEntries(false, 13, entries);
}

DABTxFIG dabTxFIG10(std::uint16_t eid, const std::string& label) { return labelFIG(0, eid, 2, label); }
DABTxFIG dabTxFIG11(std::uint16_t sid, const std::string& label) { return labelFIG(1, sid, 2, label); }
DABTxFIG dabTxFIG15(std::uint32_t sid, const std::string& label) { return labelFIG(5, sid, 4, label); }
