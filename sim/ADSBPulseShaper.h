#pragma once

#include <utility>
#include <vector>

// Real step response of an idealised transmitter and receive chain, tabulated every nanosecond:
// a pulse from a to b has the envelope step(t - a) - step(t - b). For clean single-frame
// renderings; the emitter's hardware-like replies use ADSBPulseResponse. Immutable after
// construction.
class ADSBPulseShaper {
public:
    // Blackman-windowed sinc low-pass with the given cutoff.
    explicit ADSBPulseShaper(double cutoffHz = 1'000'000.0, double halfLengthUs = 4.0);
    // Gaussian edges (erf step) with the given standard deviation.
    static ADSBPulseShaper gaussian(double sigmaUs);
    double step(double tUs) const;
    double reachUs() const { return halfLengthUs; }

private:
    ADSBPulseShaper(double halfLength, std::vector<double> steps)
        : halfLengthUs(halfLength), table(std::move(steps)) {}
    double halfLengthUs;
    std::vector<double> table;  // step at -halfLengthUs + n ns
};
