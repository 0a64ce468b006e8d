#include "sim/ADSBPulseResponse.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/FIRTaps.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kStopbandDB = 60.0;

// Kaiser's design rules: beta for the stopband attenuation, length for the transition width.
double kaiserBeta(double attenuationDB) {
    return 0.1102 * (attenuationDB - 8.7);
}
double kaiserLengthUs(double attenuationDB, double transitionHz) {
    return (attenuationDB - 8.0) / (2.285 * 2.0 * kPi * transitionHz * 1e-6);
}

// Trapezoid of unit height; edges given 10-90 %, so each linear ramp is 1.25 times longer.
double trapezoid(double tUs, const ADSBPulseEdges& e) {
    const double rise = e.riseUs / 0.8;
    const double decay = e.decayUs / 0.8;
    const double up = std::clamp((tUs + 0.5 * rise) / rise, 0.0, 1.0);
    const double down = std::clamp((e.widthUs + 0.5 * decay - tUs) / decay, 0.0, 1.0);
    return std::min(up, down);
}

}  // namespace

ADSBPulseResponse::ADSBPulseResponse(const ADSBPulseEdges& edges, const ADSBReceiveFilter& filter,
                                     double sampleRateHz, double carrierOffsetHz)
    : offsetHz(carrierOffsetHz) {
    const double step = kStepUs;
    const double cutoffHz = filter.cutoffCyclesPerSample * sampleRateHz;
    const double halfUs =
        0.5 * kaiserLengthUs(kStopbandDB, filter.transitionCyclesPerSample * sampleRateHz);
    const int halfTaps = static_cast<int>(std::ceil(halfUs / step));
    const double beta = kaiserBeta(kStopbandDB);
    const double windowScale = 1.0 / FIRTaps::besselI0(beta);
    const double fc = cutoffHz * 1e-6;  // cycles per µs
    const double w = 2.0 * kPi * offsetHz * 1e-6;
    // Taps h(s)·exp(-jωs) on the table grid: the filter seen from the carrier's frame.
    std::vector<std::complex<double>> taps(static_cast<std::size_t>(2 * halfTaps + 1));
    double sum = 0.0;
    for (int m = -halfTaps; m <= halfTaps; ++m) {
        const double s = m * step;
        const double x = 2.0 * kPi * fc * s;
        const double sinc = m == 0 ? 1.0 : std::sin(x) / x;
        const double r = s / (halfTaps * step);
        const double window =
            FIRTaps::besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) * windowScale;
        taps[static_cast<std::size_t>(m + halfTaps)] = sinc * window * std::polar(1.0, -w * s);
        sum += sinc * window;
    }
    const double pulseStart = -edges.riseUs / 0.8;
    const double pulseEnd = edges.widthUs + edges.decayUs / 0.8;
    const int pulseSteps = static_cast<int>(std::ceil((pulseEnd - pulseStart) / step)) + 1;
    std::vector<double> pulse(static_cast<std::size_t>(pulseSteps));
    for (int j = 0; j < pulseSteps; ++j) {
        pulse[static_cast<std::size_t>(j)] = trapezoid(pulseStart + j * step, edges);
    }

    tableStartUs = pulseStart - halfTaps * step;
    table.assign(pulse.size() + taps.size() - 1, {});
    for (std::size_t k = 0; k < table.size(); ++k) {
        std::complex<double> acc;
        const std::size_t jFirst = k >= taps.size() ? k - taps.size() + 1 : 0;
        const std::size_t jLast = std::min(k, pulse.size() - 1);
        for (std::size_t j = jFirst; j <= jLast; ++j) acc += pulse[j] * taps[k - j];
        table[k] = std::complex<float>(acc / sum);
    }
    tableEndUs = tableStartUs + static_cast<double>(table.size() - 1) * step;
}
