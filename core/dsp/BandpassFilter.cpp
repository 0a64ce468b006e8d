#include "dsp/BandpassFilter.h"

#include <cassert>
#include <cmath>
#include <numbers>

BandpassFilter::BandpassFilter(const Config& config) {
    assert(config.sampleRate > 0.0 && config.q > 0.0);
    const double w0 = 2.0 * std::numbers::pi * config.centerHz / config.sampleRate;
    const double alpha = std::sin(w0) / (2.0 * config.q);
    const double a0 = 1.0 + alpha;
    b0 = static_cast<float>(alpha / a0);
    b1 = 0.0f;
    b2 = static_cast<float>(-alpha / a0);
    a1 = static_cast<float>(-2.0 * std::cos(w0) / a0);
    a2 = static_cast<float>((1.0 - alpha) / a0);
}
