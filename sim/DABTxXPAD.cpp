#include "sim/DABTxXPAD.h"

#include <algorithm>
#include <cassert>

#include "sim/DABTxDataGroup.h"

namespace {
constexpr std::size_t kMaxIndicators = 4;
constexpr std::uint8_t kFPADVariableXPAD = 0x20;  // F-PAD type 00, X-PAD indicator 10
constexpr std::uint8_t kFPADContentsIndicator = 0x02;
constexpr int kDSEId = 4;

struct Subfield {
    int appType;
    std::vector<std::uint8_t> bytes;  // padded to a subfield length
};

// Length index of the smallest subfield holding `remaining` within `room`, else the largest
// within `room`; -1 if none fits.
int chooseIndex(std::size_t remaining, std::size_t room) {
    int best = -1;
    for (int k = 0; k < 8; ++k) {
        if (kDABTxXPADSubfieldBytes[k] > room) break;
        best = k;
        if (kDABTxXPADSubfieldBytes[k] >= remaining) break;
    }
    return best;
}

int indexOf(std::size_t bytes) {
    for (int k = 0; k < 8; ++k)
        if (kDABTxXPADSubfieldBytes[k] == bytes) return k;
    assert(false);
    return 0;
}
}  // namespace

DABTxXPADPacker::DABTxXPADPacker(std::size_t maxXPADBytes) : maxXPAD(maxXPADBytes) {
    // Two indicators, an end marker, the 4-byte length indicator and a 4-byte subfield.
    assert(maxXPADBytes >= 11);
}

void DABTxXPADPacker::start(DABTxXPADApplication application, std::vector<std::uint8_t> dataGroup) {
    assert(isIdle() && !dataGroup.empty());
    app = application;
    group = std::move(dataGroup);
    offset = 0;
    lengthSent = false;
}

std::vector<std::uint8_t> DABTxXPADPacker::nextPAD() {
    if (isIdle()) return {0x00, 0x00};
    std::vector<Subfield> subfields;
    std::size_t used = 0;
    if (app == DABTxXPADApplication::mot && !lengthSent) {
        assert(group.size() < (1u << 14));
        std::vector<std::uint8_t> indicator{static_cast<std::uint8_t>(group.size() >> 8 & 0x3F),
                                            static_cast<std::uint8_t>(group.size())};
        dabTxAppendCRC16(indicator);
        used += indicator.size();
        subfields.push_back({kDABTxXPADLengthIndicator, std::move(indicator)});
        lengthSent = true;
    }
    const std::size_t indicators = subfields.size() + 1;
    const std::size_t room = maxXPAD - used - indicators - (indicators < kMaxIndicators ? 1 : 0);
    const std::size_t remaining = group.size() - offset;
    const int index = chooseIndex(remaining, room);
    assert(index >= 0);
    const std::size_t take = std::min(remaining, kDABTxXPADSubfieldBytes[index]);
    Subfield data{.appType = app == DABTxXPADApplication::mot
                                 ? (offset == 0 ? kDABTxXPADMOTStart : kDABTxXPADMOTContinuation)
                                 : (offset == 0 ? kDABTxXPADDLSStart : kDABTxXPADDLSContinuation),
                  .bytes = {}};
    data.bytes.assign(group.begin() + static_cast<std::ptrdiff_t>(offset),
                      group.begin() + static_cast<std::ptrdiff_t>(offset + take));
    data.bytes.resize(kDABTxXPADSubfieldBytes[index], 0);  // padding after the group's end
    offset += take;
    subfields.push_back(std::move(data));

    std::vector<std::uint8_t> xpad;
    for (const Subfield& s : subfields)
        xpad.push_back(static_cast<std::uint8_t>(indexOf(s.bytes.size()) << 5 | s.appType));
    if (subfields.size() < kMaxIndicators) xpad.push_back(kDABTxXPADEndMarker);
    for (const Subfield& s : subfields) xpad.insert(xpad.end(), s.bytes.begin(), s.bytes.end());
    assert(xpad.size() <= maxXPAD);
    // X-PAD runs backwards from the F-PAD at the end of the field.
    std::vector<std::uint8_t> pad(xpad.rbegin(), xpad.rend());
    pad.push_back(kFPADVariableXPAD);
    pad.push_back(kFPADContentsIndicator);
    return pad;
}

std::size_t dabTxDataStreamElementBytes(std::size_t padBytes) {
    return 2 + (padBytes >= 255 ? 1 : 0) + padBytes;
}

std::vector<std::uint8_t> dabTxDataStreamElement(std::span<const std::uint8_t> pad) {
    assert(pad.size() <= 255 + 255);
    std::vector<std::uint8_t> dse{static_cast<std::uint8_t>(kDSEId << 5)};
    if (pad.size() >= 255) {
        dse.push_back(255);
        dse.push_back(static_cast<std::uint8_t>(pad.size() - 255));
    } else {
        dse.push_back(static_cast<std::uint8_t>(pad.size()));
    }
    dse.insert(dse.end(), pad.begin(), pad.end());
    return dse;
}
