#include "dab/DABDQPSKDemodulator.h"

namespace {

constexpr int kHalfCarriers = 768;

bool sizesMatch(std::span<const float> a, std::span<const float> b, std::span<const float> c,
                std::span<const float> d, int Tu) {
    const auto n = static_cast<std::size_t>(Tu);
    return Tu > 2 * kHalfCarriers && a.size() == n && b.size() == n && c.size() == n && d.size() == n;
}

}  // namespace

std::vector<std::uint8_t> DABDQPSKDemodulator::demodulate(std::span<const float> previousRe,
                                                          std::span<const float> previousIm,
                                                          std::span<const float> currentRe,
                                                          std::span<const float> currentIm, int Tu) {
    if (!sizesMatch(previousRe, previousIm, currentRe, currentIm, Tu)) return {};
    std::vector<std::uint8_t> bits;
    bits.reserve(4 * kHalfCarriers);
    for (int k = -kHalfCarriers; k <= kHalfCarriers; ++k) {
        if (k == 0) continue;
        const auto bin = static_cast<std::size_t>(k > 0 ? k : Tu + k);
        const float pr = previousRe[bin], pi = previousIm[bin];
        const float cr = currentRe[bin], ci = currentIm[bin];
        bits.push_back(cr * pr + ci * pi > 0.0f ? 1 : 0);
        bits.push_back(ci * pr - cr * pi > 0.0f ? 1 : 0);
    }
    return bits;
}

std::vector<std::uint8_t> DABDQPSKDemodulator::demodulateLogical(
    std::span<const float> previousRe, std::span<const float> previousIm,
    std::span<const float> currentRe, std::span<const float> currentIm,
    const DABFrequencyDeinterleaver& deinterleaver, float cfoCos, float cfoSin, int Tu) {
    if (!sizesMatch(previousRe, previousIm, currentRe, currentIm, Tu)) return {};
    const int carriers = deinterleaver.carrierCount();
    if (carriers == 0) return {};
    std::vector<std::uint8_t> bits(2 * static_cast<std::size_t>(carriers), 0);
    for (int i = 0; i < carriers; ++i) {
        const int k = deinterleaver.physicalCarrier(i);
        const auto bin = static_cast<std::size_t>(k > 0 ? k : Tu + k);
        const float pr = previousRe[bin], pi = previousIm[bin];
        const float cr = currentRe[bin], ci = currentIm[bin];
        const float dr = cr * pr + ci * pi, di = ci * pr - cr * pi;
        // d · e^(−jθ)
        const float rr = dr * cfoCos + di * cfoSin;
        const float ri = di * cfoCos - dr * cfoSin;
        bits[static_cast<std::size_t>(i)] = rr > 0.0f ? 1 : 0;
        bits[static_cast<std::size_t>(i + carriers)] = ri > 0.0f ? 1 : 0;
    }
    return bits;
}

double DABDQPSKDemodulator::onesPercentage(std::span<const std::uint8_t> bits) {
    if (bits.empty()) return 0.0;
    double sum = 0.0;
    for (const std::uint8_t b : bits) sum += b;
    return sum / static_cast<double>(bits.size()) * 100.0;
}
