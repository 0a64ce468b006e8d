#include "dsp/NoiseReduction.h"

#include <algorithm>
#include <cassert>
#include <cmath>

NoiseReduction::NoiseReduction(float initialAmount) : amount(initialAmount) {}

std::vector<float> NoiseReduction::process(std::span<const float> in) {
    std::vector<float> out(in.size());
    process(in, out);
    return out;
}

void NoiseReduction::process(std::span<const float> in, std::span<float> out) {
    assert(out.size() >= in.size());
    float env = envelope, floor = noiseFloor;
    const float depth = amount;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float x = in[n];
        env += (std::fabs(x) - env) * envAlpha;
        floor += (env - floor) * (env < floor ? floorAlphaDown : floorAlphaUp);
        const float g = (floor <= kMinFloor) ? 1.0f : std::clamp(env / (3.0f * floor), 0.0f, 1.0f);
        out[n] = x * (1.0f - depth * (1.0f - g));
    }
    envelope = env;
    noiseFloor = floor;
}

void NoiseReduction::reset() {
    noiseFloor = kInitialFloor;
    envelope = 0.0f;
}
