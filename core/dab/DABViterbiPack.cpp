#include "dab/DABViterbiPack.h"

#include <algorithm>
#include <cmath>

bool DABViterbiPack::pack(std::span<const float> soft, int blockLength, std::span<std::uint8_t> out) {
    if (blockLength <= 0) return false;
    const auto L = static_cast<std::size_t>(blockLength);
    const std::size_t needed = 4 * (L + 6);
    if (soft.size() < needed || out.size() < (L + 7) / 8) return false;

    metrics.resize(needed);
    toMetrics(soft.first(needed), metrics);
    bits.resize(L);
    if (!viterbi.deconvolve(std::span<const int>(metrics), blockLength, bits)) return false;

    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>((L + 7) / 8), std::uint8_t{0});
    unsigned reg = 0x1FF;  // stage 1 in bit 0
    for (std::size_t j = 0; j < L; ++j) {
        const unsigned prbs = ((reg >> 8) ^ (reg >> 4)) & 1U;
        reg = ((reg << 1) | prbs) & 0x1FF;
        if ((bits[j] ^ prbs) & 1U) out[j / 8] |= static_cast<std::uint8_t>(0x80U >> (j % 8));
    }
    return true;
}

void DABViterbiPack::toMetrics(std::span<const float> soft, std::span<int> metrics) {
    // Normalise to the strongest value so the metric range does not depend on signal level.
    float peak = 0.0f;
    for (const float v : soft) peak = std::max(peak, std::fabs(v));
    const float factor = peak > 1e-12f ? kMetricScale / peak : static_cast<float>(kMetricScale);
    for (std::size_t n = 0; n < soft.size() && n < metrics.size(); ++n) {
        const long q = std::lround(soft[n] * factor);
        metrics[n] = static_cast<int>(std::clamp<long>(q, -kMetricScale, kMetricScale));
    }
}

int DABViterbiPack::blockLengthFor(std::size_t depuncturedCount) {
    return static_cast<int>(depuncturedCount / 4) - 6;
}

std::vector<std::uint8_t> viterbiPack(std::span<const float> soft, int blockLength) {
    if (blockLength <= 0 || blockLength % 8 != 0) return {};
    std::vector<std::uint8_t> out(static_cast<std::size_t>(blockLength / 8));
    DABViterbiPack packer;
    if (!packer.pack(soft, blockLength, out)) return {};
    return out;
}

std::optional<std::vector<std::uint8_t>> viterbiPackGeneric(std::span<const float> soft, int blockLength) {
    if (blockLength <= 0) return std::nullopt;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(blockLength + 7) / 8);
    DABViterbiPack packer;
    if (!packer.pack(soft, blockLength, out)) return std::nullopt;
    return out;
}
