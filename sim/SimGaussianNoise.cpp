#include "sim/SimGaussianNoise.h"

#include <cmath>
#include <cstdlib>

namespace {
constexpr double kTailStart = 3.442619855899;      // r: start of the tail for 128 layers
constexpr double kLayerArea = 9.91256303526217e-3; // v: area of each layer
constexpr double kScale = 2147483648.0;            // 2^31

std::uint32_t magnitude(std::int32_t hz) {
    return hz < 0 ? 0u - static_cast<std::uint32_t>(hz) : static_cast<std::uint32_t>(hz);
}
}  // namespace

SimGaussianNoise::SimGaussianNoise(std::uint64_t seed) : random(seed) {
    double dn = kTailStart, tn = dn;
    const double q = kLayerArea / std::exp(-0.5 * dn * dn);
    kn[0] = static_cast<std::uint32_t>((dn / q) * kScale);
    kn[1] = 0;
    wn[0] = static_cast<float>(q / kScale);
    wn[127] = static_cast<float>(dn / kScale);
    fn[0] = 1.0f;
    fn[127] = static_cast<float>(std::exp(-0.5 * dn * dn));
    for (int i = 126; i >= 1; --i) {
        dn = std::sqrt(-2.0 * std::log(kLayerArea / dn + std::exp(-0.5 * dn * dn)));
        kn[i + 1] = static_cast<std::uint32_t>((dn / tn) * kScale);
        tn = dn;
        fn[i] = static_cast<float>(std::exp(-0.5 * dn * dn));
        wn[i] = static_cast<float>(dn / kScale);
    }
}

float SimGaussianNoise::fromChunk(std::uint32_t chunk) {
    // Bits 0..6 pick the layer, bits 7..31 (25 of them) give the value: disjoint bits, so the
    // layer and the position inside it are independent.
    const std::uint32_t layer = chunk & 127u;
    const auto hz = static_cast<std::int32_t>(chunk & ~127u);
    if (magnitude(hz) < kn[layer]) return static_cast<float>(hz) * wn[layer];
    return fromTail(hz, layer);
}

float SimGaussianNoise::next() { return fromChunk(random.nextU32()); }

float SimGaussianNoise::fromTail(std::int32_t hz, std::uint32_t layer) {
    while (true) {
        const float x = static_cast<float>(hz) * wn[layer];
        if (layer == 0) {
            // Beyond r: Marsaglia's exponential-rejection sampler for the normal tail.
            float tx, ty;
            do {
                tx = -std::log(1.0f - random.uniform()) / static_cast<float>(kTailStart);
                ty = -std::log(1.0f - random.uniform());
            } while (ty + ty < tx * tx);
            return hz > 0 ? static_cast<float>(kTailStart) + tx : -static_cast<float>(kTailStart) - tx;
        }
        if (fn[layer] + random.uniform() * (fn[layer - 1] - fn[layer]) < std::exp(-0.5f * x * x))
            return x;
        const std::uint32_t chunk = random.nextU32();
        layer = chunk & 127u;
        hz = static_cast<std::int32_t>(chunk & ~127u);
        if (magnitude(hz) < kn[layer]) return static_cast<float>(hz) * wn[layer];
    }
}

void SimGaussianNoise::fill(std::span<float> out, float sigma) {
    // Two values per 64-bit draw.
    std::size_t n = 0;
    for (; n + 1 < out.size(); n += 2) {
        const std::uint64_t bits = random.nextU64();
        out[n] = sigma * fromChunk(static_cast<std::uint32_t>(bits >> 32));
        out[n + 1] = sigma * fromChunk(static_cast<std::uint32_t>(bits));
    }
    if (n < out.size()) out[n] = sigma * next();
}
