#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sim/SimRandom.h"

// Fast standard-normal noise for the simulated receiver: the ziggurat method of Marsaglia and
// Tsang (J. Stat. Software 5(8), 2000) with 128 layers, taking the layer index and the value from
// disjoint random bits (Doornik's correction), two values per 64-bit draw. A fraction of the
// cost of Box-Muller, which matters at 4 million values per second. Deterministic per seed.
// One caller at a time.
class SimGaussianNoise {
public:
    explicit SimGaussianNoise(std::uint64_t seed);

    float next();
    // out[k] = sigma · N(0, 1).
    void fill(std::span<float> out, float sigma);

private:
    float fromChunk(std::uint32_t chunk);
    float fromTail(std::int32_t hz, std::uint32_t layer);

    SimRandom random;
    std::array<std::uint32_t, 128> kn{};  // acceptance thresholds on |hz|
    std::array<float, 128> wn{};          // hz to x scale per layer
    std::array<float, 128> fn{};          // density at each layer's edge
};
