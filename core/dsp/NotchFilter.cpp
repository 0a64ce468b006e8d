#include "dsp/NotchFilter.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

NotchFilter::NotchFilter(const Config& config) {
    configure(config);
}

void NotchFilter::configure(const Config& config) {
    assert(config.sampleRate > 0.0 && config.q > 0.0);
    const double fs = config.sampleRate;
    // Upper limit first, then the lower one; written so a NaN centre lands on the upper limit.
    double f = std::min(fs / 2.0 - 50.0, config.frequencyHz);
    f = std::max(50.0, f);
    notchHz = f;

    const double w = 2.0 * std::numbers::pi * f / fs;
    const double alpha = std::sin(w) / (2.0 * config.q);
    const double a0 = 1.0 + alpha;
    b0 = static_cast<float>(1.0 / a0);
    b1 = static_cast<float>(-2.0 * std::cos(w) / a0);
    b2 = static_cast<float>(1.0 / a0);
    a1 = static_cast<float>(-2.0 * std::cos(w) / a0);
    a2 = static_cast<float>((1.0 - alpha) / a0);
}

std::vector<float> NotchFilter::process(std::span<const float> in) {
    std::vector<float> out(in.size());
    process(in, out);
    return out;
}

void NotchFilter::process(std::span<const float> in, std::span<float> out) {
    assert(out.size() >= in.size());
    float sx1 = x1, sx2 = x2, sy1 = y1, sy2 = y2;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float x = in[n];
        const float y = b0 * x + b1 * sx1 + b2 * sx2 - a1 * sy1 - a2 * sy2;
        sx2 = sx1;
        sx1 = x;
        sy2 = sy1;
        sy1 = y;
        out[n] = y;
    }
    x1 = sx1;
    x2 = sx2;
    y1 = sy1;
    y2 = sy2;
}
