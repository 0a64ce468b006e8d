#include "dsp/DeEmphasisFilter.h"

#include <cassert>
#include <cmath>
#include <numbers>

// With the zero at -c, H(z) = K (1 + c z^-1) / (1 - p z^-1), K = (1 - p) / (1 + c) for unity
// gain at DC. At a quarter of the rate, z^-1 = -j, so |H| = K sqrt(1 + c²) / sqrt(1 + p²).
// Setting that to the analogue magnitude A gives, with r = A sqrt(1 + p²) / (1 - p),
// (1 - r²) c² - 2 r² c + (1 - r²) = 0, whose root inside the unit circle is
// c = (r² - sqrt(2 r² - 1)) / (1 - r²). Without a real root the zero stays at the origin.
DeEmphasisFilter::Coefficients DeEmphasisFilter::design(const Config& config) {
    assert(config.sampleRate > 0.0 && config.timeConstantMicroseconds > 0.0);
    const double tau = config.timeConstantMicroseconds * 1e-6;
    const double p = std::exp(-1.0 / (tau * config.sampleRate));
    const double quarterRateRad = 2.0 * std::numbers::pi * config.sampleRate / 4.0;
    const double analogue = 1.0 / std::sqrt(1.0 + std::pow(quarterRateRad * tau, 2.0));
    const double r = analogue * std::sqrt(1.0 + p * p) / (1.0 - p);
    const double r2 = r * r;
    double c = 0.0;
    if (2.0 * r2 >= 1.0 && r2 < 1.0) c = (r2 - std::sqrt(2.0 * r2 - 1.0)) / (1.0 - r2);
    const double gain = (1.0 - p) / (1.0 + c);
    return {.b0 = static_cast<float>(gain),
            .b1 = static_cast<float>(gain * c),
            .pole = static_cast<float>(p)};
}

DeEmphasisFilter::DeEmphasisFilter(const Config& config) : k(design(config)) {}

std::vector<float> DeEmphasisFilter::process(std::span<const float> in) {
    std::vector<float> out(in.size());
    process(in, out);
    return out;
}

void DeEmphasisFilter::process(std::span<const float> in, std::span<float> out) {
    assert(out.size() >= in.size());
    float x1 = prevInput, y = prevOutput;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float x = in[n];
        y = k.b0 * x + k.b1 * x1 + k.pole * y;
        x1 = x;
        out[n] = y;
    }
    prevInput = x1;
    prevOutput = y;
}
