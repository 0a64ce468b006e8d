#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "device/IQSample.h"

// Frequency modulator at the dongle's rate shared by the FM emitters. A block of instantaneous
// frequency values (units of the peak deviation) is first turned into per-sample rotations,
// in a loop the compiler vectorises; the rotations then drive one phasor that also carries the
// carrier's baseband offset, so the output stays phase-continuous across blocks and retunes.
// The phasor is renormalised every kRenormaliseInterval samples of its own count, which keeps
// the output independent of chunking. One caller at a time.
class SimFMModulator {
public:
    static constexpr std::uint32_t kRenormaliseInterval = 256;

    explicit SimFMModulator(std::size_t maxBlock);

    // Computes the rotations for `frequency` (size a multiple of 8, at most maxBlock).
    void prepare(std::span<const float> frequency, double radiansPerUnit);
    std::size_t preparedCount() const { return prepared; }

    // Adds envelope·phasor to out[n] for each n, using prepared rotations from `first` on.
    // The envelope moves linearly by slewPerSample towards target (0 slew: constant).
    struct Envelope {
        double level = 1.0;
        double target = 1.0;
        double slewPerSample = 0.0;
    };
    void modulate(std::span<IQSample> out, std::size_t first, std::complex<double> offsetStep,
                  Envelope& envelope);

private:
    std::vector<float> stepRe, stepIm;
    std::size_t prepared = 0;
    std::complex<double> phasor{1.0, 0.0};
    std::uint32_t sinceRenormalise = 0;
};
