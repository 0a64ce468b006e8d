#include "dsp/SimpleLowpass.h"

#include <numbers>

namespace {
float smoothingFor(const SimpleLowpass::Config& c) {
    const double dt = 1.0 / c.sampleRate;
    const double rc = 1.0 / (2.0 * std::numbers::pi * c.cutoffHz);
    return static_cast<float>(dt / (dt + rc));
}
}  // namespace

SimpleLowpass::SimpleLowpass(const Config& config) : alpha(smoothingFor(config)) {}
