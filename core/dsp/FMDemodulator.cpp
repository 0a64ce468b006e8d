#include "dsp/FMDemodulator.h"

#include <cassert>
#include <cmath>

FMDemodulator::FMDemodulator(float initialGain) : gain(initialGain) {}

std::vector<float> FMDemodulator::demodulate(std::span<const IQSample> in) {
    std::vector<float> out(in.size());
    demodulate(in, out);
    return out;
}

void FMDemodulator::demodulate(std::span<const IQSample> in, std::span<float> out) {
    assert(out.size() >= in.size());
    const float g = gain.load(std::memory_order_relaxed);
    float pi = prevI, pq = prevQ;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float i = in[n].i, q = in[n].q;
        // Phase of the current sample times the conjugate of the previous one; the first
        // sample after construction is compared with (0, 0), and atan2(0, 0) is 0.
        out[n] = std::atan2(pi * q - i * pq, i * pi + q * pq) * g;
        pi = i;
        pq = q;
    }
    prevI = pi;
    prevQ = pq;
}
