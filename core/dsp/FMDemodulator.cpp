#include "dsp/FMDemodulator.h"

#include <cassert>
#include <algorithm>
#include <cmath>

namespace {

// atan2 within 1e-5 rad (a polynomial on [0, 1] and octant folding): the discriminator's
// error then sits 90 dB below full deviation, while std::atan2 cost most of the analog pass.
inline float fastAtan2(float y, float x) {
    const float ax = std::fabs(x), ay = std::fabs(y);
    const float mx = std::max(ax, ay), mn = std::min(ax, ay);
    const float a = mx > 0.0f ? mn / mx : 0.0f;
    const float s = a * a;
    // Abramowitz & Stegun 4.4.49 on [0, 1].
    float r = a * (0.99997726f +
                   s * (-0.33262347f + s * (0.19354346f + s * (-0.11643287f + s * (0.05265332f + s * -0.01172120f)))));
    r = ay > ax ? 1.57079637f - r : r;
    r = x < 0.0f ? 3.14159274f - r : r;
    return y < 0.0f ? -r : r;
}

}  // namespace

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
        out[n] = fastAtan2(pi * q - i * pq, i * pi + q * pq) * g;
        pi = i;
        pq = q;
    }
    prevI = pi;
    prevQ = pq;
}
