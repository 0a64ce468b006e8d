#include "sim/DABTxFICEncoder.h"

#include <algorithm>
#include <cassert>

#include "sim/DABTxChannelCoding.h"

DABTxFICEncoder::DABTxFICEncoder(const DABTxEnsemble& ensemble) : eid(ensemble.eid) {
    // Organisation first, labels after, so a receiver that has just synchronised learns the
    // sub-channels within the first frame or two.
    for (auto list : {dabTxFIG01(ensemble), dabTxFIG02(ensemble), dabTxFIG03(ensemble), dabTxFIG013(ensemble)})
        figs.insert(figs.end(), list.begin(), list.end());
    figs.push_back(dabTxFIG10(ensemble.eid, ensemble.label));
    for (const DABTxService& s : ensemble.services) figs.push_back(dabTxFIG11(s.sid, s.label));
    if (ensemble.dataService)
        figs.push_back(dabTxFIG15(ensemble.dataService->sid, ensemble.dataService->label));
}

void DABTxFICEncoder::buildFIBs(int cifCount, std::span<std::uint8_t> fibs) {
    assert(fibs.size() >= kFIBsPerFrame * kFIBBytes);
    for (std::size_t f = 0; f < kFIBsPerFrame; ++f) {
        std::uint8_t* fib = fibs.data() + f * kFIBBytes;
        std::size_t used = 0;
        const auto put = [&](const DABTxFIG& fig) {
            std::copy(fig.begin(), fig.end(), fib + used);
            used += fig.size();
        };
        if (f == 0) put(dabTxFIG00(eid, cifCount));
        // Greedy: whole FIGs in carousel order while they fit, at most one lap per FIB.
        for (std::size_t n = 0; n < figs.size(); ++n) {
            const DABTxFIG& next = figs[cursor];
            if (used + next.size() > kDABTxFIBDataBytes) break;
            put(next);
            cursor = (cursor + 1) % figs.size();
        }
        // End marker, then padding: both 0xFF.
        std::fill(fib + used, fib + kDABTxFIBDataBytes, 0xFF);
        const std::uint16_t crc = dabTxFIBCRC(std::span<const std::uint8_t>(fib, kDABTxFIBDataBytes));
        fib[30] = static_cast<std::uint8_t>(crc >> 8);
        fib[31] = static_cast<std::uint8_t>(crc);
    }
}

void DABTxFICEncoder::encode(std::span<const std::uint8_t> fibs, std::span<std::uint8_t> bits) {
    assert(bits.size() >= kFrameBits);
    constexpr std::size_t kBlockBytes = kBlockBits / 8;
    for (std::size_t b = 0; b < 4; ++b) {
        dabTxUnpackBits(fibs.subspan(b * kBlockBytes, kBlockBytes), blockBits);
        dabTxEnergyDispersal(blockBits);
        dabTxConvolutionalEncode(blockBits, codedBits);
        const std::size_t n =
            dabTxPuncture(codedBits, kDABTxFICRuns, bits.subspan(b * kCodedBlockBits, kCodedBlockBits));
        assert(n == kCodedBlockBits);
        (void)n;
    }
}

void DABTxFICEncoder::encodeFrame(int cifCount, std::span<std::uint8_t> bits) {
    buildFIBs(cifCount, fibScratch);
    encode(fibScratch, bits);
}
