#include "dab/DABMSCExtractor.h"

#include <algorithm>

#include "platform/DebugLog.h"

bool DABMSCExtractor::sliceSubchannel(std::span<const float> frameBits, int startCU, int sizeCU,
                                      std::span<float> out) const {
    const std::size_t cifValues = static_cast<std::size_t>(dataCarriers) * 2 * kSymbolsPerCIF;
    if (dataCarriers <= 0 || frameBits.size() < cifValues * kCIFsPerFrame) {
        DebugLog::writef("M2: frameBits %zu", frameBits.size());
        return false;
    }
    if (startCU < 0 || sizeCU <= 0 || startCU + sizeCU > kCIFCapacityCU) {
        DebugLog::writef("M2: bad CU range %d+%d", startCU, sizeCU);
        return false;
    }
    const std::size_t sliceValues = static_cast<std::size_t>(sizeCU) * kCUBits;
    if (out.size() < sliceValues * kCIFsPerFrame) return false;
    // A carrier count other than 1536 can make a CIF shorter than 864 CU: check every slice
    // before writing any.
    const std::size_t lastTo = (kCIFsPerFrame - 1) * cifValues +
                               static_cast<std::size_t>(startCU) * kCUBits + sliceValues;
    if (lastTo > frameBits.size()) {
        DebugLog::writef("M2: slice out of bounds cif=%d", kCIFsPerFrame - 1);
        return false;
    }
    for (std::size_t cif = 0; cif < kCIFsPerFrame; ++cif) {
        const std::size_t from = cif * cifValues + static_cast<std::size_t>(startCU) * kCUBits;
        std::copy_n(frameBits.begin() + static_cast<std::ptrdiff_t>(from), sliceValues,
                    out.begin() + static_cast<std::ptrdiff_t>(cif * sliceValues));
    }
    return true;
}

std::optional<std::array<std::vector<float>, DABMSCExtractor::kCIFsPerFrame>>
DABMSCExtractor::sliceSubchannel(std::span<const float> frameBits, int startCU, int sizeCU) const {
    if (sizeCU <= 0 || sizeCU > kCIFCapacityCU) return std::nullopt;
    const std::size_t sliceValues = static_cast<std::size_t>(sizeCU) * kCUBits;
    std::vector<float> all(sliceValues * kCIFsPerFrame);
    if (!sliceSubchannel(frameBits, startCU, sizeCU, all)) return std::nullopt;
    std::array<std::vector<float>, kCIFsPerFrame> slices;
    for (std::size_t cif = 0; cif < kCIFsPerFrame; ++cif) {
        const auto first = all.begin() + static_cast<std::ptrdiff_t>(cif * sliceValues);
        slices[cif].assign(first, first + static_cast<std::ptrdiff_t>(sliceValues));
    }
    return slices;
}
