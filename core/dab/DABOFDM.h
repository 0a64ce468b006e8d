#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "device/IQSample.h"

// One FFTW plan for 2048-point complex FFTs (created with the object, executed with per-call
// buffers) plus the phase reference symbol. One instance may serve sequential calls from one
// thread; distinct instances may run concurrently.
class DABOFDM {
public:
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
    // when the block does not hold symbolStart + 2552 samples.
    std::optional<Spectrum> fftSymbol(std::span<const IQSample> block, int symbolStart,
                                      double cfoHz = 0.0, double sampleRate = 2'048'000.0) const;
    // Allocation-light form used by the frame loop: writes 2048 bins into re/im.
    bool fftSymbolInto(std::span<const IQSample> block, int symbolStart, std::span<float> re,
                       std::span<float> im) const;

    // Frequency-shifted copy: x[n]·e^(−j2π·offsetHz·n/fs); unchanged when |offsetHz| <= 0.5.
    static std::vector<IQSample> applyNCO(std::span<const IQSample> block, double offsetHz, double fs);

    static const PhaseReference& buildPhaseReference();
    static PhaseRefResult correlatePhaseRef(std::span<const float> measuredRe,
                                            std::span<const float> measuredIm, int binShift);

private:
    struct Plan;
    std::unique_ptr<Plan> plan;
};
