#pragma once

#include <vector>

// Windowed-sinc (Hamming) low-pass design for the decimating filters of the analog chain.
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

}  // namespace FIRTaps
