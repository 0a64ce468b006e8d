#include "support/TestSignals.h"

#include <cmath>
#include <numbers>

#include "sim/SimRandom.h"

std::vector<IQSample> makeTone(double toneHz, double sampleRateHz, std::size_t count,
                               float amplitude, double phaseRad) {
    std::vector<IQSample> out(count);
    const double step = 2.0 * std::numbers::pi * toneHz / sampleRateHz;
    for (std::size_t n = 0; n < count; ++n) {
        const double ph = phaseRad + step * static_cast<double>(n);
        out[n] = {static_cast<float>(amplitude * std::cos(ph)),
                  static_cast<float>(amplitude * std::sin(ph))};
    }
    return out;
}

std::vector<IQSample> makeNoise(std::uint64_t seed, std::size_t count, float sigma) {
    SimRandom rng(seed);
    std::vector<IQSample> out(count);
    for (auto& s : out) s = {sigma * rng.gaussian(), sigma * rng.gaussian()};
    return out;
}

std::vector<float> makeRealTone(double toneHz, double sampleRateHz, std::size_t count,
                                float amplitude) {
    std::vector<float> out(count);
    const double step = 2.0 * std::numbers::pi * toneHz / sampleRateHz;
    for (std::size_t n = 0; n < count; ++n)
        out[n] = static_cast<float>(amplitude * std::sin(step * static_cast<double>(n)));
    return out;
}
