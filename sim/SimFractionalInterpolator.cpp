#include "sim/SimFractionalInterpolator.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

#include "sim/SimKaiser.h"

SimFractionalInterpolator::SimFractionalInterpolator(const SimFractionalInterpolatorConfig& config)
    : tapCount(std::max(4, (config.taps + 3) & ~3)),
      phaseCount(std::max(1, config.phases)),
      rowLength(2 * static_cast<std::size_t>(tapCount)) {
    const double beta = simkaiser::beta(config.attenuationDB);
    const double half = tapCount / 2.0;
    table.resize(static_cast<std::size_t>(phaseCount + 1) * rowLength);
    for (int p = 0; p <= phaseCount; ++p) {
        const double mu = static_cast<double>(p) / phaseCount;
        float* row = table.data() + static_cast<std::size_t>(p) * rowLength;
        double sum = 0.0;
        std::vector<double> h(static_cast<std::size_t>(tapCount));
        for (int m = 0; m < tapCount; ++m) {
            const double t = m - before() - mu;  // distance from the wanted position
            const double sinc = t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
            const double r = t / half;
            const double window = simkaiser::besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / simkaiser::besselI0(beta);
            h[static_cast<std::size_t>(m)] = sinc * window;
            sum += sinc * window;
        }
        // Unit DC gain at every phase, so a constant reads back as itself.
        // Each tap twice, for the real and imaginary parts of interleaved samples.
        for (std::size_t m = 0; m < h.size(); ++m) row[2 * m] = row[2 * m + 1] = static_cast<float>(h[m] / sum);
    }
}

std::complex<float> SimFractionalInterpolator::at(const std::complex<float>* first, double mu) const {
    assert(mu >= 0.0 && mu < 1.0);
    // Nearest table row: with 2048 phases the position is off by at most 1/4096 sample.
    const auto p = static_cast<std::size_t>(mu * phaseCount + 0.5);
    const float* h = table.data() + p * rowLength;
    const auto* x = reinterpret_cast<const float*>(first);
    // Eight independent lanes (even = real, odd = imaginary) so the compiler vectorises the sum
    // without reassociating floating-point additions itself.
    float acc[kLanes] = {};
    for (std::size_t k = 0; k < rowLength; k += kLanes)
        for (std::size_t j = 0; j < kLanes; ++j) acc[j] += h[k + j] * x[k + j];
    float re = 0.0f, im = 0.0f;
    for (std::size_t j = 0; j < kLanes; j += 2) {
        re += acc[j];
        im += acc[j + 1];
    }
    return {re, im};
}
