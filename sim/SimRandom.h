#pragma once

#include <cstdint>

// Small, fast, seedable generator for simulated noise (xoshiro128+ style). Deterministic per
// seed so tests see the same world every run.
class SimRandom {
public:
    explicit SimRandom(std::uint64_t seed);
    // xorshift128+; inline because the noise generators call it per sample.
    std::uint64_t nextU64() {
        std::uint64_t s1 = state[0];
        const std::uint64_t s0 = state[1];
        state[0] = s0;
        s1 ^= s1 << 23;
        state[1] = s1 ^ s0 ^ (s1 >> 17) ^ (s0 >> 26);
        return state[1] + s0;
    }
    // The upper half of nextU64(), the generator's strongest bits.
    std::uint32_t nextU32() { return static_cast<std::uint32_t>(nextU64() >> 32); }
    // Uniform in [0, 1).
    float uniform();
    // Standard normal (Box-Muller, cached pair).
    float gaussian();

private:
    std::uint64_t state[2];
    bool hasSpare = false;
    float spare = 0.0f;
};
