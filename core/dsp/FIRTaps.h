#pragma once

#include <vector>

// Windowed-sinc low-pass designs for the filters of the analog chain: a Hamming design given
// its cut-off and length, and a Kaiser design given its band edges and stop-band depth.
// Pure functions; safe from any thread.
namespace FIRTaps {

struct LowpassDesign {
    double sampleRate = 0.0;  // Hz, > 0
    double cutoffHz = 0.0;    // clamped to 0.45 × sampleRate
    int numTaps = 0;          // an even count is raised to the next odd one
};

// Symmetric taps normalised to unity gain at DC (left unnormalised if they sum to exactly 0).
// numTaps of 0 or 1 gives a single tap (1 after normalisation); a negative count gives none.
std::vector<float> lowpass(const LowpassDesign& design);

struct KaiserDesign {
    double sampleRateHz = 0.0;    // > 0
    double passbandHz = 0.0;      // flat to here
    double stopbandHz = 0.0;      // > passbandHz, below sampleRateHz / 2
    double attenuationDB = 70.0;  // > 50: stop band at least this far down
    // The tap count is raised until (count - 1) / 2 is a multiple of this, so a decimating
    // overlap-save filter can keep a fixed output grid (see ChannelFilter).
    int centreMultiple = 1;
};

// Kaiser-windowed sinc (Kaiser 1974; Oppenheim & Schafer, Discrete-Time Signal Processing,
// 7.5.3): beta and the length from the attenuation and the transition width, cut-off in the
// middle of the transition. Odd, symmetric, unity gain at DC; pass-band ripple about
// 10^(-attenuationDB / 20).
std::vector<float> kaiserLowpass(const KaiserDesign& design);

// Modified Bessel function I0 by its power series, for Kaiser windows. Unlike
// std::cyl_bessel_i it never calls lgamma, whose global sign variable makes it a data race
// between threads.
double besselI0(double x);

}  // namespace FIRTaps
