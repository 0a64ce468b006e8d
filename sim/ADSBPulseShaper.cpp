#include "sim/ADSBPulseShaper.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kPi = std::numbers::pi;
}  // namespace

ADSBPulseShaper::ADSBPulseShaper(double cutoffHz, double halfLength) : halfLengthUs(halfLength) {
    // Integrate the impulse response at 0.1 ns and keep every tenth value.
    constexpr int kSub = 10;
    const double dt = 1e-3 / kSub;  // µs
    const int steps = static_cast<int>(std::lround(2.0 * halfLengthUs / dt));
    const double fcPerUs = cutoffHz * 1e-6;
    std::vector<double> cumulative(static_cast<std::size_t>(steps) + 1, 0.0);
    double sum = 0.0;
    for (int n = 1; n <= steps; ++n) {
        const double t = -halfLengthUs + (n - 0.5) * dt;
        const double x = 2.0 * kPi * fcPerUs * t;
        const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
        const double w = 0.42 + 0.5 * std::cos(kPi * t / halfLengthUs) +
                         0.08 * std::cos(2.0 * kPi * t / halfLengthUs);
        sum += 2.0 * fcPerUs * sinc * w * dt;
        cumulative[static_cast<std::size_t>(n)] = sum;
    }
    table.resize(static_cast<std::size_t>(steps / kSub) + 1);
    for (std::size_t n = 0; n < table.size(); ++n) table[n] = cumulative[n * kSub] / sum;
}

ADSBPulseShaper ADSBPulseShaper::gaussian(double sigmaUs) {
    const double halfLength = std::max(5.0 * sigmaUs, 0.002);
    if (sigmaUs <= 0.0) return ADSBPulseShaper(0.001, {0.0, 1.0, 1.0});
    std::vector<double> steps(static_cast<std::size_t>(std::lround(2000.0 * halfLength)) + 1);
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const double t = -halfLength + 1e-3 * static_cast<double>(n);
        steps[n] = 0.5 * (1.0 + std::erf(t / (sigmaUs * std::numbers::sqrt2)));
    }
    return ADSBPulseShaper(halfLength, std::move(steps));
}

double ADSBPulseShaper::step(double tUs) const {
    if (tUs <= -halfLengthUs) return 0.0;
    if (tUs >= halfLengthUs) return 1.0;
    const double x = (tUs + halfLengthUs) * 1000.0;
    const auto n = static_cast<std::size_t>(x);
    if (n + 1 >= table.size()) return 1.0;
    const double f = x - static_cast<double>(n);
    return table[n] + (table[n + 1] - table[n]) * f;
}
