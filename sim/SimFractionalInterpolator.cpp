#include "sim/SimFractionalInterpolator.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

namespace {
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 60 && term > 1e-15 * sum; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

double kaiserBeta(double attenuationDB) {
    if (attenuationDB > 50.0) return 0.1102 * (attenuationDB - 8.7);
    if (attenuationDB > 21.0)
        return 0.5842 * std::pow(attenuationDB - 21.0, 0.4) + 0.07886 * (attenuationDB - 21.0);
    return 0.0;
}
}  // namespace

SimFractionalInterpolator::SimFractionalInterpolator(const SimFractionalInterpolatorConfig& config)
    : tapCount(std::max(2, config.taps & ~1)), phaseCount(std::max(1, config.phases)) {
    const double beta = kaiserBeta(config.attenuationDB);
    const double half = tapCount / 2.0;
    table.resize(static_cast<std::size_t>((phaseCount + 1) * tapCount));
    for (int p = 0; p <= phaseCount; ++p) {
        const double mu = static_cast<double>(p) / phaseCount;
        float* row = table.data() + static_cast<std::size_t>(p * tapCount);
        double sum = 0.0;
        std::vector<double> h(static_cast<std::size_t>(tapCount));
        for (int m = 0; m < tapCount; ++m) {
            const double t = m - before() - mu;  // distance from the wanted position
            const double sinc = t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
            const double r = t / half;
            const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(beta);
            h[static_cast<std::size_t>(m)] = sinc * window;
            sum += sinc * window;
        }
        // Unit DC gain at every phase, so a constant reads back as itself.
        for (int m = 0; m < tapCount; ++m) row[m] = static_cast<float>(h[static_cast<std::size_t>(m)] / sum);
    }
}

std::complex<float> SimFractionalInterpolator::at(const std::complex<float>* first, double mu) const {
    assert(mu >= 0.0 && mu < 1.0);
    const double scaled = mu * phaseCount;
    const int p = std::min(static_cast<int>(scaled), phaseCount - 1);
    const auto frac = static_cast<float>(scaled - p);
    const float* a = table.data() + static_cast<std::size_t>(p * tapCount);
    const float* b = a + tapCount;
    float re = 0.0f, im = 0.0f;
    for (int m = 0; m < tapCount; ++m) {
        const float h = a[m] + frac * (b[m] - a[m]);
        re += h * first[m].real();
        im += h * first[m].imag();
    }
    return {re, im};
}
