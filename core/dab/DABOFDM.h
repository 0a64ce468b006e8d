#pragma once

#include <complex>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "device/IQSample.h"

// Mode I symbol FFTs (2048 points, one FFTW plan created with the object and executed on
// per-call buffers) plus the phase reference symbol. Input at 2,048,000 samples/s; bins in FFT
// order (0 = DC, 1..1023 positive, 1024..2047 negative), unscaled. One instance may serve
// sequential calls from one thread; distinct instances may run concurrently.
class DABOFDM {
public:
    static constexpr int kFFTSize = 2048;
    static constexpr int kGuard = 504;
    static constexpr int kSymbol = 2552;

    struct Spectrum {
        std::vector<float> mag, re, im;  // 2048 bins each, bin 0 = DC, 1024..2047 negative
    };
    struct PhaseRefResult {
        int binShift = 0;
        float correlation = 0.0f;
        bool detected = false;  // correlation > 0.25
    };
    struct PhaseReference {
        std::vector<float> re, im;  // 2048 bins
    };

    DABOFDM();
    ~DABOFDM();
    DABOFDM(const DABOFDM&) = delete;
    DABOFDM& operator=(const DABOFDM&) = delete;

    bool hasFFT() const;
    // FFT of the 2048 samples after the guard of the symbol starting at symbolStart; absent
    // when the block does not hold symbolStart + 2552 samples. A cfoHz beyond ±0.001 Hz
    // derotates each sample by its index in the block, so the phase runs on across symbols.
    std::optional<Spectrum> fftSymbol(std::span<const IQSample> block, int symbolStart,
                                      double cfoHz = 0.0, double sampleRate = 2'048'000.0) const;
    // Allocation-free forms used by the frame loop (no derotation): 2048 bins into re/im or
    // into bins. False when the block is too short or there is no plan.
    bool fftSymbolInto(std::span<const IQSample> block, int symbolStart, std::span<float> re,
                       std::span<float> im) const;
    bool fftSymbolInto(std::span<const IQSample> block, int symbolStart,
                       std::span<std::complex<float>> bins) const;

    // Frequency-shifted copy: x[n]·e^(−j2π·offsetHz·n/fs); unchanged when |offsetHz| <= 0.5.
    static std::vector<IQSample> applyNCO(std::span<const IQSample> block, double offsetHz, double fs);

    // The mode I phase reference symbol (EN 300 401 14.3.2) in FFT bin order, unit amplitude on
    // the 1536 carriers. Built once.
    static const PhaseReference& buildPhaseReference();
    // Normalised coherent correlation of a measured PRS spectrum, read binShift bins up,
    // against the reference; carriers landing within 80 bins of DC are left out.
    static PhaseRefResult correlatePhaseRef(std::span<const float> measuredRe,
                                            std::span<const float> measuredIm, int binShift);

private:
    struct Plan;
    std::unique_ptr<Plan> plan;
};
