#include "dsp/DeEmphasisFilter.h"

#include <cassert>

namespace {
float smoothingFor(const DeEmphasisFilter::Config& c) {
    const double dt = 1.0 / c.sampleRate;
    return static_cast<float>(dt / (dt + c.timeConstantMicroseconds / 1'000'000.0));
}
}  // namespace

DeEmphasisFilter::DeEmphasisFilter(const Config& config) : alpha(smoothingFor(config)) {}

std::vector<float> DeEmphasisFilter::process(std::span<const float> in) {
    std::vector<float> out(in.size());
    process(in, out);
    return out;
}

void DeEmphasisFilter::process(std::span<const float> in, std::span<float> out) {
    assert(out.size() >= in.size());
    float y = prevOutput;
    for (std::size_t n = 0; n < in.size(); ++n) {
        y += alpha * (in[n] - y);
        out[n] = y;
    }
    prevOutput = y;
}
