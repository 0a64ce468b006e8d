#include "sim/DABTxMSCEncoder.h"

#include <algorithm>
#include <cassert>

#include "sim/DABTxTables.h"

namespace {
constexpr int kInterleaverDepth = 16;
// Delay in CIFs of bit i of a sub-channel is kInterleaverDelay[i mod 16]. Clause 12.
constexpr std::array<int, kInterleaverDepth> kInterleaverDelay{0, 8, 4, 12, 2, 10, 6, 14,
                                                               1, 9, 5, 13, 3, 11, 7, 15};
constexpr std::uint64_t kFillerSeed = 0xDAB;
}  // namespace

DABTxMSCEncoder::DABTxMSCEncoder(const DABTxEnsemble& ensemble)
    : used(kCapacityCU, false), filler(kFillerSeed) {
    for (const DABTxSubchannel& d : ensemble.subchannels) {
        Subchannel s{.description = d};
        const auto sizeBits = static_cast<std::size_t>(d.sizeCU) * kCUBits;
        if (d.protection == DABTxProtection::eepA) {
            const int n = dabTxBitrateKbps(d) / 8;
            const DABTxEEPProfile p = dabTxEEPAProfile(d.eepLevel, n);
            assert(n > 0 && p.sizeCU == d.sizeCU);
            if (p.l1Blocks > 0) s.runs.push_back({p.l1Blocks, p.pi1});
            if (p.l2Blocks > 0) s.runs.push_back({p.l2Blocks, p.pi2});
            s.data.assign(192 * static_cast<std::size_t>(n), 0);
            s.coded.assign(dabTxCodedLength(s.data.size()), 0);
            assert(dabTxPuncturedLength(s.runs) == sizeBits);
        }
        s.history.assign(kInterleaverDepth * sizeBits, 0);
        for (int cu = d.startCU; cu < d.startCU + d.sizeCU && cu < kCapacityCU; ++cu) used[cu] = true;
        subchannels.push_back(std::move(s));
    }
}

bool DABTxMSCEncoder::setSubchannelSource(int subchannelId, Source source) {
    for (Subchannel& s : subchannels)
        if (s.description.id == subchannelId && !s.runs.empty()) {
            s.source = std::move(source);
            return true;
        }
    return false;
}

std::size_t DABTxMSCEncoder::logicalFrameBits(int subchannelId) const {
    for (const Subchannel& s : subchannels)
        if (s.description.id == subchannelId) return s.data.size();
    return 0;
}

void DABTxMSCEncoder::reset() {
    for (Subchannel& s : subchannels) {
        std::fill(s.history.begin(), s.history.end(), 0);
        s.newest = 0;
    }
    filler = SimRandom(kFillerSeed);
}

void DABTxMSCEncoder::encodeSubchannel(Subchannel& s, std::span<std::uint8_t> cifBits) {
    const auto sizeBits = static_cast<std::size_t>(s.description.sizeCU) * kCUBits;
    s.newest = (s.newest + 1) % kInterleaverDepth;
    const std::span<std::uint8_t> frame(s.history.data() + static_cast<std::size_t>(s.newest) * sizeBits, sizeBits);
    if (s.runs.empty()) {
        // TODO: UEP puncturing profiles are not in the reference tables yet; random bits keep
        // the carriers busy until they are.
        for (std::uint8_t& b : frame) b = static_cast<std::uint8_t>(filler.nextU32() >> 31);
    } else {
        std::fill(s.data.begin(), s.data.end(), 0);
        if (s.source) s.source(s.data);
        dabTxEnergyDispersal(s.data);
        dabTxConvolutionalEncode(s.data, s.coded);
        dabTxPuncture(s.coded, s.runs, frame);
    }
    const auto start = static_cast<std::size_t>(s.description.startCU) * kCUBits;
    for (std::size_t i = 0; i < sizeBits; ++i) {
        const int from = (s.newest - kInterleaverDelay[i % kInterleaverDepth] + kInterleaverDepth) % kInterleaverDepth;
        cifBits[start + i] = s.history[static_cast<std::size_t>(from) * sizeBits + i];
    }
}

void DABTxMSCEncoder::encodeCIF(std::span<std::uint8_t> cifBits) {
    assert(cifBits.size() >= kCIFBits);
    for (int cu = 0; cu < kCapacityCU; ++cu) {
        if (used[cu]) continue;
        for (int b = 0; b < kCUBits; ++b)
            cifBits[static_cast<std::size_t>(cu * kCUBits + b)] = static_cast<std::uint8_t>(filler.nextU32() >> 31);
    }
    for (Subchannel& s : subchannels) encodeSubchannel(s, cifBits);
}
