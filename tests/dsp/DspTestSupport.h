#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "sim/SimRandom.h"

// Helpers shared by the dsp tests.

inline double toDB(double ratio) {
    return 20.0 * std::log10(ratio);
}

// Amplitude of the real sinusoid at freqHz in x, by correlation (exact for whole cycles).
inline double toneAmplitude(std::span<const float> x, double freqHz, double rateHz) {
    std::complex<double> acc = 0.0;
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    for (std::size_t n = 0; n < x.size(); ++n)
        acc += double(x[n]) * std::polar(1.0, -w * double(n));
    return 2.0 * std::abs(acc) / double(x.size());
}

// Magnitude response of FIR taps at freqHz, in dB.
inline double firGainDB(std::span<const float> taps, double freqHz, double rateHz) {
    std::complex<double> acc = 0.0;
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    for (std::size_t k = 0; k < taps.size(); ++k)
        acc += double(taps[k]) * std::polar(1.0, -w * double(k));
    return toDB(std::abs(acc));
}

// Gain in dB of a one-pole y += a (x - y) at freqHz.
inline double onePoleGainDB(double a, double freqHz, double rateHz) {
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    return toDB(a / std::abs(1.0 - (1.0 - a) * std::polar(1.0, -w)));
}

inline double rms(std::span<const float> x) {
    double s = 0.0;
    for (float v : x) s += double(v) * v;
    return x.empty() ? 0.0 : std::sqrt(s / double(x.size()));
}

inline std::span<const float> lastSamples(const std::vector<float>& x, std::size_t count) {
    return std::span<const float>(x).subspan(x.size() - count);
}

// Uniform samples in [-1, 1), reproducible per seed.
inline std::vector<float> randomSignal(std::uint64_t seed, std::size_t count) {
    SimRandom rng(seed);
    std::vector<float> out(count);
    for (float& v : out) v = 2.0f * rng.uniform() - 1.0f;
    return out;
}

// Feeds `in` to fresh objects from `make` cut into one block, single samples, and an odd mix
// with empty blocks; `run(object, block)` returns the block's output. The joined outputs must
// equal the uncut one exactly.
template <typename In, typename Make, typename Run>
void expectChunkingInvariant(const std::vector<In>& in, Make make, Run run) {
    const std::vector<std::vector<std::size_t>> patterns = {
        {in.size()}, {1}, {1, 7, 0, 100, 3, 4095, 64, 8192, 9001, 5}};
    auto whole = make();
    const auto reference = run(*whole, std::span<const In>(in));
    for (const auto& pattern : patterns) {
        SCOPED_TRACE(pattern.size());
        auto object = make();
        std::remove_const_t<decltype(reference)> out;
        for (std::size_t pos = 0, cut = 0; pos < in.size();) {
            const std::size_t n = std::min(pattern[cut++ % pattern.size()], in.size() - pos);
            const auto piece = run(*object, std::span<const In>(in).subspan(pos, n));
            out.insert(out.end(), piece.begin(), piece.end());
            pos += n;
        }
        EXPECT_EQ(out, reference);
    }
}
