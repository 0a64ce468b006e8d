#include "dsp/FFTAnalyzer.h"

#include <fftw3.h>

#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <numbers>

#include "dsp/FFTWPlannerLock.h"
#include "platform/DebugLog.h"

namespace {

// Peak of the normalised Hann window: sqrt(2/3) to four places, so that the window's power
// gain is about 1 (sum of w^2 / n = 0.8165^2 * 1.5 = 1.00003).
constexpr double kHannNormPeak = 0.8165;

fftwf_complex* asComplex(float* interleaved) {
    return reinterpret_cast<fftwf_complex*>(interleaved);
}

}  // namespace

void FFTAnalyzer::Scratch::Free::operator()(float* p) const noexcept {
    fftwf_free(p);
}

FFTAnalyzer::Scratch::Scratch(std::size_t fftSize)
    : points(fftSize), interleaved(static_cast<float*>(fftwf_malloc(2 * fftSize * sizeof(float)))) {
    if (!interleaved) std::abort();  // out of memory at set-up
}

void FFTAnalyzer::PlanDestroyer::operator()(fftwf_plan_s* plan) const noexcept {
    std::lock_guard lock(fftwPlannerMutex());
    fftwf_destroy_plan(plan);
}

FFTAnalyzer::FFTAnalyzer(std::size_t fftSize)
    : log2n(static_cast<unsigned>(std::log2(static_cast<double>(fftSize)))),
      n(fftSize),
      window(fftSize, 0.0f) {
    assert(fftSize > 0 && std::has_single_bit(fftSize));
    {
        // FFTW_ESTIMATE: the plan depends on the size only, so every analyser of one size
        // computes bit-identical spectra, and planning does not touch the planning buffer.
        Scratch planning(n);
        std::lock_guard lock(fftwPlannerMutex());
        fftSetup.reset(fftwf_plan_dft_1d(static_cast<int>(n), asComplex(planning.interleaved.get()),
                                         asComplex(planning.interleaved.get()), FFTW_FORWARD,
                                         FFTW_ESTIMATE));
    }
    if (!fftSetup) {
        DebugLog::write("Ne mogu inicijalizirati FFT setup");
        std::abort();
    }
    // Periodic form: denominator n, so w[0] = 0 and w[n/2] is the peak.
    for (std::size_t k = 0; k < n; ++k) {
        const double phaseRad =
            2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
        window[k] = static_cast<float>(kHannNormPeak * (1.0 - std::cos(phaseRad)));
    }
    double windowSum = 0.0;
    for (float w : window) windowSum += w;
    fullScalePower = windowSum * windowSum;
}

FFTAnalyzer::~FFTAnalyzer() = default;

std::optional<std::vector<float>> FFTAnalyzer::magnitudeSpectrum(
    std::span<const IQSample> samples) const {
    if (samples.size() < n) return std::nullopt;
    Scratch scratch(n);
    std::vector<float> power(n);
    magnitudeSpectrum(samples, power, scratch);
    return power;
}

std::optional<std::vector<float>> FFTAnalyzer::averagedSpectrum(
    std::span<const IQSample> samples) const {
    const std::size_t segments = samples.size() / n;
    if (segments == 0) return std::nullopt;
    Scratch scratch(n);
    std::vector<float> one(n);
    std::vector<double> sum(n, 0.0);
    for (std::size_t s = 0; s < segments; ++s) {
        magnitudeSpectrum(samples.subspan(s * n, n), one, scratch);
        for (std::size_t j = 0; j < n; ++j) sum[j] += one[j];
    }
    std::vector<float> mean(n);
    for (std::size_t j = 0; j < n; ++j)
        mean[j] = static_cast<float>(sum[j] / static_cast<double>(segments));
    return mean;
}

bool FFTAnalyzer::magnitudeSpectrum(std::span<const IQSample> samples, std::span<float> out,
                                    Scratch& scratch) const {
    if (samples.size() < n) return false;
    assert(out.size() >= n && scratch.size() == n);
    float* z = scratch.interleaved.get();
    for (std::size_t k = 0; k < n; ++k) {
        z[2 * k] = samples[k].i * window[k];
        z[2 * k + 1] = samples[k].q * window[k];
    }
    // New-array execution is thread-safe; the scratch has the planning buffer's alignment.
    fftwf_execute_dft(fftSetup.get(), asComplex(z), asComplex(z));
    // fftshift while taking |X|^2: out[j] holds bin (j + n/2) mod n.
    const std::size_t half = n / 2;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t m = (j + half) & (n - 1);
        const float re = z[2 * m];
        const float im = z[2 * m + 1];
        out[j] = re * re + im * im;
    }
    return true;
}
