#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "device/IQSample.h"

struct fftwf_plan_s;

// Power spectrum of one block of complex baseband samples, zero frequency in the middle.
//
// Owns a periodic, normalised Hann window and one FFTW plan of a fixed power-of-two size n.
// magnitudeSpectrum() windows the first n samples, takes the unscaled forward DFT and returns
// |X[m]|^2 in centred order: index j is the bin at (j - n/2) * fs / n, so index 0 is -fs/2,
// index n/2 is DC and index n-1 is fs/2 - fs/n. No dB and no scaling: callers divide by
// fullScaleBinPower() to read the spectrum in dBFS (SpectrumMath does).
//
// Thread safety: nothing changes after construction. The returning form works in buffers of
// its own, so one analyser may be called from several threads at once; the allocation-free
// form works in the caller's Scratch, which one thread uses at a time.
class FFTAnalyzer {
public:
    // Aligned work buffer of n complex values for the allocation-free form.
    class Scratch {
    public:
        explicit Scratch(std::size_t fftSize);
        std::size_t size() const { return points; }

    private:
        friend class FFTAnalyzer;
        struct Free {
            void operator()(float* p) const noexcept;
        };
        std::size_t points;
        std::unique_ptr<float[], Free> interleaved;  // (re, im) pairs, FFTW-aligned
    };

    // fftSize must be a positive power of two (the receiver uses 1024 and 256).
    explicit FFTAnalyzer(std::size_t fftSize);
    ~FFTAnalyzer();
    FFTAnalyzer(const FFTAnalyzer&) = delete;
    FFTAnalyzer& operator=(const FFTAnalyzer&) = delete;

    // n power values in centred order, or nothing when `samples` holds fewer than n samples.
    // Samples beyond the first n are ignored. Allocates its buffers per call.
    std::optional<std::vector<float>> magnitudeSpectrum(std::span<const IQSample> samples) const;
    // Allocation-free form: writes n values into `out` and returns true, or returns false and
    // leaves `out` untouched for a short block. out.size() >= n, scratch.size() == n.
    bool magnitudeSpectrum(std::span<const IQSample> samples, std::span<float> out,
                           Scratch& scratch) const;

    // Mean of the power spectra of the samples.size() / n whole segments of `samples` (Welch's
    // method without overlap): every sample of a block counts, and the noise in each bin varies
    // far less than in one spectrum. Nothing for fewer than n samples. Allocates per call.
    std::optional<std::vector<float>> averagedSpectrum(std::span<const IQSample> samples) const;

    // What a complex tone of amplitude 1 (full scale) at a bin centre puts in its bin:
    // (sum of the window)^2, (0.8165 n)^2 for the normalised Hann window.
    double fullScaleBinPower() const { return fullScalePower; }

    std::size_t size() const { return n; }
    unsigned log2Size() const { return log2n; }
    std::span<const float> windowValues() const { return window; }

private:
    struct PlanDestroyer {
        void operator()(fftwf_plan_s* plan) const noexcept;
    };

    unsigned log2n;
    std::unique_ptr<fftwf_plan_s, PlanDestroyer> fftSetup;  // in-place forward plan of size n
    std::size_t n;
    std::vector<float> window;
    double fullScalePower = 0.0;
};
