#include "dsp/MultiplexEqualizer.h"

#include <cassert>

void MultiplexEqualizer::process(std::span<const float> in, std::span<float> out) {
    assert(out.size() >= in.size());
    float p1 = x1, p2 = x2;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float x = in[n];
        out[n] = kCentreTap * p1 + kSideTap * (x + p2);
        p2 = p1;
        p1 = x;
    }
    x1 = p1;
    x2 = p2;
}
