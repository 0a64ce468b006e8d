#include "sim/SimRandom.h"

#include <cmath>

namespace {
std::uint64_t splitMix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
}  // namespace

SimRandom::SimRandom(std::uint64_t seed) {
    state[0] = splitMix(seed);
    state[1] = splitMix(seed);
}

float SimRandom::uniform() {
    return static_cast<float>(nextU32() >> 8) * (1.0f / 16777216.0f);
}

float SimRandom::gaussian() {
    if (hasSpare) {
        hasSpare = false;
        return spare;
    }
    float u1 = uniform();
    if (u1 < 1e-12f) u1 = 1e-12f;
    const float u2 = uniform();
    const float r = std::sqrt(-2.0f * std::log(u1));
    const float a = 6.2831853f * u2;
    spare = r * std::sin(a);
    hasSpare = true;
    return r * std::cos(a);
}
