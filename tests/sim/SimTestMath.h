#pragma once

// Independent measuring tools for the simulator tests: a plain discriminator, single-bin DFTs
// and a radix-2 FFT, written here from first principles so they share no code with sim/.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "device/IQSample.h"
#include "sim/RFEmitter.h"

namespace simtest {

constexpr double kRate = 2'048'000.0;

inline std::vector<IQSample> render(RFEmitter& emitter, std::size_t count, double offsetHz,
                                    std::uint64_t sampleIndex = 0) {
    std::vector<IQSample> out(count);
    emitter.render(out, {.sampleRateHz = kRate, .offsetHz = offsetHz, .sampleIndex = sampleIndex});
    return out;
}

// Instantaneous frequency in Hz from the phase step of consecutive samples; out[n] belongs to
// the step from in[n] to in[n+1].
inline std::vector<double> discriminate(std::span<const IQSample> in, double rateHz = kRate) {
    std::vector<double> out;
    for (std::size_t n = 1; n < in.size(); ++n) {
        const std::complex<double> a(in[n - 1].i, in[n - 1].q), b(in[n].i, in[n].q);
        out.push_back(std::arg(b * std::conj(a)) * rateHz / (2.0 * std::numbers::pi));
    }
    return out;
}

// c = (2/N)·Σ x[n]·e^{-jωn}: for x = A·cos(ωn + φ), c = A·e^{jφ} (exact over whole periods).
inline std::complex<double> toneOf(std::span<const double> x, double hz, double rateHz = kRate) {
    std::complex<double> acc;
    const double w = 2.0 * std::numbers::pi * hz / rateHz;
    for (std::size_t n = 0; n < x.size(); ++n)
        acc += x[n] * std::polar(1.0, -w * static_cast<double>(n));
    return acc * (2.0 / static_cast<double>(x.size()));
}

// (1/N)·Σ z[n]·e^{-jωn}: the complex amplitude of a complex tone at hz.
inline std::complex<double> complexToneOf(std::span<const IQSample> z, double hz,
                                          double rateHz = kRate) {
    std::complex<double> acc;
    const double w = 2.0 * std::numbers::pi * hz / rateHz;
    for (std::size_t n = 0; n < z.size(); ++n)
        acc += std::complex<double>(z[n].i, z[n].q) * std::polar(1.0, -w * static_cast<double>(n));
    return acc / static_cast<double>(z.size());
}

// In-place iterative radix-2 FFT; size must be a power of two.
inline void fft(std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> wl = std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0);
            for (std::size_t k = 0; k < len / 2; ++k, w *= wl) {
                const auto u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// Power per FFT bin (bin k at k·rate/N, upper half negative), 4-term Blackman-Harris window
// (sidelobes -92 dB), normalised so a full-scale complex tone gives its amplitude squared.
inline std::vector<double> powerSpectrum(std::span<const IQSample> z) {
    const std::size_t n = z.size();
    std::vector<std::complex<double>> a(n);
    double windowSum = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double x = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
        const double w = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) -
                         0.01168 * std::cos(3 * x);
        windowSum += w;
        a[k] = std::complex<double>(z[k].i, z[k].q) * w;
    }
    fft(a);
    std::vector<double> p(n);
    for (std::size_t k = 0; k < n; ++k) p[k] = std::norm(a[k]) / (windowSum * windowSum);
    return p;
}

inline double binHz(std::size_t k, std::size_t n, double rateHz = kRate) {
    const double hz = static_cast<double>(k) * rateHz / static_cast<double>(n);
    return k < n / 2 ? hz : hz - rateHz;
}

inline double totalPower(std::span<const IQSample> z) {
    double p = 0.0;
    for (const IQSample& s : z) p += static_cast<double>(s.i) * s.i + static_cast<double>(s.q) * s.q;
    return p / static_cast<double>(z.size());
}

inline double dB(double powerRatio) { return 10.0 * std::log10(powerRatio); }

// Renders `total` samples from a fresh emitter in chunks of the given sizes (cycled).
inline std::vector<IQSample> renderChunked(const std::function<std::shared_ptr<RFEmitter>()>& make,
                                           std::size_t total, std::span<const std::size_t> chunks,
                                           double offsetHz) {
    const auto emitter = make();
    std::vector<IQSample> out(total);
    std::size_t n = 0, c = 0;
    while (n < total) {
        const std::size_t len = std::min(chunks[c++ % chunks.size()], total - n);
        emitter->render(std::span(out).subspan(n, len),
                        {.sampleRateHz = kRate, .offsetHz = offsetHz, .sampleIndex = n});
        n += len;
    }
    return out;
}

}  // namespace simtest
