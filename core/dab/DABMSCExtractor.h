#pragma once

#include <array>
#include <optional>
#include <span>
#include <vector>

// Cuts one sub-channel's capacity units out of the four CIFs of a transmission frame's MSC
// soft values (72 symbols × 2 × dataCarriers, symbols 0–17 CIF 0, 18–35 CIF 1, …). Stateless.
class DABMSCExtractor {
public:
    static constexpr int kCUBits = 64;
    static constexpr int kCIFCapacityCU = 864;
    static constexpr int kCIFsPerFrame = 4;
    static constexpr int kSymbolsPerCIF = 18;

    explicit DABMSCExtractor(int dataCarriers = 1536) : dataCarriers(dataCarriers) {}

    // Four slices of sizeCU × 64 values, one per CIF, or nothing when the frame is short or
    // the range leaves the CIF.
    std::optional<std::array<std::vector<float>, kCIFsPerFrame>> sliceSubchannel(
        std::span<const float> frameBits, int startCU, int sizeCU) const;
    // As above into out (4 × sizeCU × 64 values, CIF after CIF); false, out untouched, on failure.
    bool sliceSubchannel(std::span<const float> frameBits, int startCU, int sizeCU,
                         std::span<float> out) const;

    int dataCarriers;
};
