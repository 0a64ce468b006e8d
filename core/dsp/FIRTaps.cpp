#include "dsp/FIRTaps.h"

#include <algorithm>
#include <cmath>

namespace FIRTaps {

namespace {
// One unit in the last place below the float nearest to π and 2π; the designed taps are
// defined with these values, so they are spelled out rather than taken from <numbers>.
constexpr float kPi = 3.1415925f;
constexpr float kTwoPi = 6.283185f;
}  // namespace

std::vector<float> lowpass(const LowpassDesign& design) {
    const int numTaps = design.numTaps;
    const int count = numTaps | 1;
    if (count <= 0) return {};

    const float fc = 2.0f * static_cast<float>(std::min(design.cutoffHz / design.sampleRate, 0.45));
    const int centre = numTaps / 2;
    // Window denominator: the tap count rounded down to even. For 0 or 1 taps it would be 0
    // and the window 0/0; a single tap needs no window.
    const int denominator = numTaps & ~1;

    std::vector<float> taps(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const int j = k - centre;
        const float jf = static_cast<float>(j);
        const float h = (j == 0) ? fc : std::sin(jf * kPi * fc) / (jf * kPi);
        const float w = (denominator > 0)
                            ? 0.54f - 0.46f * std::cos(static_cast<float>(k) * kTwoPi /
                                                       static_cast<float>(denominator))
                            : 1.0f;
        taps[static_cast<std::size_t>(k)] = h * w;
    }

    float sum = 0.0f;
    for (float t : taps) sum += t;
    if (sum != 0.0f)
        for (float& t : taps) t /= sum;
    return taps;
}

}  // namespace FIRTaps
