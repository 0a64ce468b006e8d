#include "dsp/FIRTaps.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

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

std::vector<float> kaiserLowpass(const KaiserDesign& design) {
    assert(design.attenuationDB > 50.0 && design.stopbandHz > design.passbandHz);
    assert(design.centreMultiple >= 1);
    const double a = design.attenuationDB;
    const double beta = 0.1102 * (a - 8.7);  // valid for a > 50 dB
    const double transitionRad =
        2.0 * std::numbers::pi * (design.stopbandHz - design.passbandHz) / design.sampleRateHz;
    const auto order = static_cast<std::size_t>(std::ceil((a - 8.0) / (2.285 * transitionRad)));
    const auto multiple = static_cast<std::size_t>(design.centreMultiple);
    std::size_t centre = (order + 1) / 2;  // at least order + 1 taps, an odd count
    centre = (centre + multiple - 1) / multiple * multiple;
    const std::size_t count = 2 * centre + 1;
    const double fc = (design.passbandHz + design.stopbandHz) / 2.0 / design.sampleRateHz;
    const double windowNorm = besselI0(beta);

    std::vector<double> h(count);
    double sum = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) - static_cast<double>(centre);
        const double sinc =
            (t == 0.0) ? 2.0 * fc
                       : std::sin(2.0 * std::numbers::pi * fc * t) / (std::numbers::pi * t);
        const double r = t / static_cast<double>(centre);
        const double w =
            besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / windowNorm;
        h[k] = sinc * w;
        sum += h[k];
    }
    std::vector<float> taps(count);
    for (std::size_t k = 0; k < count; ++k) taps[k] = static_cast<float>(h[k] / sum);
    return taps;
}

double besselI0(double x) {
    const double quarterSquare = x * x / 4.0;
    double term = 1.0, sum = 1.0;
    for (int k = 1; term > sum * 1e-16; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
    }
    return sum;
}

}  // namespace FIRTaps
