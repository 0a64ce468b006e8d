#include "dsp/DCBlockFilter.h"

#include <cassert>

std::vector<float> DCBlockFilter::process(std::span<const float> in) {
    std::vector<float> out(in.size());
    process(in, out);
    return out;
}

void DCBlockFilter::process(std::span<const float> in, std::span<float> out) {
    assert(out.size() >= in.size());
    float x1 = prevInput, y1 = prevOutput;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float x = in[n];
        const float y = x - x1 + pole * y1;
        x1 = x;
        y1 = y;
        out[n] = y;
    }
    prevInput = x1;
    prevOutput = y1;
}
