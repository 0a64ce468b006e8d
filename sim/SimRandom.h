#pragma once

#include <cstdint>

// Small, fast, seedable generator for simulated noise (xoshiro128+ style). Deterministic per
// seed so tests see the same world every run.
class SimRandom {
public:
    explicit SimRandom(std::uint64_t seed);
    std::uint32_t nextU32();
    // Uniform in [0, 1).
    float uniform();
    // Standard normal (Box-Muller, cached pair).
    float gaussian();

private:
    std::uint64_t state[2];
    bool hasSpare = false;
    float spare = 0.0f;
};
