#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "sim/SimRandom.h"

// Helpers shared by the dsp tests.

// Amplitude of the real sinusoid at freqHz in x, by correlation. Exact for a whole number of
// cycles; a few hundred cycles keep leakage below 1e-3 otherwise.
inline double toneAmplitude(std::span<const float> x, double freqHz, double rateHz) {
    std::complex<double> acc = 0.0;
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    for (std::size_t n = 0; n < x.size(); ++n)
        acc += static_cast<double>(x[n]) * std::polar(1.0, -w * static_cast<double>(n));
    return 2.0 * std::abs(acc) / static_cast<double>(x.size());
}

inline double toDB(double ratio) {
    return 20.0 * std::log10(ratio);
}

// Magnitude response of FIR taps at freqHz, in dB.
inline double firGainDB(std::span<const float> taps, double freqHz, double rateHz) {
    std::complex<double> acc = 0.0;
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    for (std::size_t k = 0; k < taps.size(); ++k)
        acc += static_cast<double>(taps[k]) * std::polar(1.0, -w * static_cast<double>(k));
    return toDB(std::abs(acc));
}

inline double rms(std::span<const float> x) {
    double s = 0.0;
    for (float v : x) s += static_cast<double>(v) * v;
    return x.empty() ? 0.0 : std::sqrt(s / static_cast<double>(x.size()));
}

// Uniform samples in [-1, 1), reproducible per seed.
inline std::vector<float> randomSignal(std::uint64_t seed, std::size_t count) {
    SimRandom rng(seed);
    std::vector<float> out(count);
    for (float& v : out) v = 2.0f * rng.uniform() - 1.0f;
    return out;
}

// Ways of cutting a stream into blocks for chunking-invariance tests: one block, single
// samples, and an odd mix that includes empty blocks. Each pattern repeats to the end.
inline const std::vector<std::vector<std::size_t>>& cutPatterns() {
    static const std::vector<std::vector<std::size_t>> patterns = {
        {1'000'000}, {1}, {1, 7, 0, 100, 3, 4095, 64, 8192, 9001, 5}};
    return patterns;
}

// Feeds `in` to `step(block)` cut by `pattern`; step returns that block's output, which is
// appended.
template <typename T, typename U, typename Step>
std::vector<U> processInCuts(std::span<const T> in, const std::vector<std::size_t>& pattern,
                             Step step) {
    std::vector<U> out;
    std::size_t pos = 0, cut = 0;
    while (pos < in.size()) {
        const std::size_t n = std::min(pattern[cut++ % pattern.size()], in.size() - pos);
        const std::vector<U> part = step(in.subspan(pos, n));
        out.insert(out.end(), part.begin(), part.end());
        pos += n;
    }
    return out;
}
