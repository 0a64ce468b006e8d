#pragma once

// Reads back what DABTxXPADPacker wrote, the way a receiver does: F-PAD at the end, the X-PAD
// before it in reverse order, contents indicators first, then the subfields. Reassembles data
// groups per application (a MOT group's length from its length indicator, a label segment's
// from its own prefix).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/DABTxDataGroup.h"
#include "sim/DABTxXPAD.h"

namespace simtest {

struct XPADSubfield {
    int appType = 0;
    std::vector<std::uint8_t> bytes;
};

// The subfields of one AU's PAD; nullopt when the F-PAD announces no X-PAD.
inline std::optional<std::vector<XPADSubfield>> readXPAD(std::span<const std::uint8_t> pad) {
    if (pad.size() < 2 || ((pad[pad.size() - 2] >> 4) & 3) != 2 || !(pad.back() & 0x02)) return std::nullopt;
    std::vector<std::uint8_t> x(pad.rbegin() + 2, pad.rend());
    std::vector<XPADSubfield> subfields;
    std::size_t at = 0;
    std::vector<std::pair<int, std::size_t>> indicators;
    while (at < x.size() && indicators.size() < 4) {
        const int app = x[at] & 0x1F;
        const std::size_t len = kDABTxXPADSubfieldBytes[x[at] >> 5];
        ++at;
        if (app == kDABTxXPADEndMarker) break;
        indicators.emplace_back(app, len);
    }
    for (const auto& [app, len] : indicators) {
        if (at + len > x.size()) return std::nullopt;
        subfields.push_back({app, {x.begin() + static_cast<std::ptrdiff_t>(at), x.begin() + static_cast<std::ptrdiff_t>(at + len)}});
        at += len;
    }
    if (at != x.size()) return std::nullopt;
    return subfields;
}

// Data groups in the order they complete.
struct XPADAssembler {
    std::vector<std::vector<std::uint8_t>> dlsGroups;
    std::vector<std::vector<std::uint8_t>> motGroups;
    std::vector<std::uint8_t> dls, mot;
    std::size_t motLength = 0;
    int badIndicators = 0;

    void push(std::span<const std::uint8_t> pad) {
        const auto subfields = readXPAD(pad);
        if (!subfields) return;
        for (const XPADSubfield& s : *subfields) {
            switch (s.appType) {
            case kDABTxXPADLengthIndicator: {
                const std::uint16_t crc = static_cast<std::uint16_t>(s.bytes[2] << 8 | s.bytes[3]);
                if (dabTxCRC16(std::span(s.bytes).first(2)) != crc) ++badIndicators;
                motLength = static_cast<std::size_t>((s.bytes[0] & 0x3F) << 8 | s.bytes[1]);
                break;
            }
            case kDABTxXPADMOTStart: mot.clear(); [[fallthrough]];
            case kDABTxXPADMOTContinuation:
                mot.insert(mot.end(), s.bytes.begin(), s.bytes.end());
                if (motLength > 0 && mot.size() >= motLength) {
                    motGroups.emplace_back(mot.begin(), mot.begin() + static_cast<std::ptrdiff_t>(motLength));
                    mot.clear();
                    motLength = 0;
                }
                break;
            case kDABTxXPADDLSStart: dls.clear(); [[fallthrough]];
            case kDABTxXPADDLSContinuation: {
                dls.insert(dls.end(), s.bytes.begin(), s.bytes.end());
                if (dls.size() < 2) break;
                // Prefix, then the characters (C = 0) or the command field (C = 1), then the CRC.
                const bool command = dls[0] & 0x10;
                const std::size_t body = command ? (dls[0] & 0x0F) == 2 ? (dls[1] & 0x0F) + 1u : 0u
                                                 : (dls[0] & 0x0F) + 1u;
                const std::size_t total = 2 + body + 2;
                if (dls.size() >= total) {
                    dlsGroups.emplace_back(dls.begin(), dls.begin() + static_cast<std::ptrdiff_t>(total));
                    dls.clear();
                }
                break;
            }
            default: break;
            }
        }
    }
};

}  // namespace simtest
