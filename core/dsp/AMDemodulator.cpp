#include "dsp/AMDemodulator.h"

#include <cassert>
#include <cmath>

namespace {
constexpr double kAGCTimeConstantSeconds = 0.049;
}  // namespace

AMDemodulator::AMDemodulator(double sampleRateHz)
    : agcAlpha(1.0 / (kAGCTimeConstantSeconds * sampleRateHz)) {}

std::vector<float> AMDemodulator::demodulate(std::span<const IQSample> in) {
    std::vector<float> out(in.size());
    demodulate(in, out);
    return out;
}

void AMDemodulator::demodulate(std::span<const IQSample> in, std::span<float> out) {
    assert(out.size() >= in.size());
    double avg = runningAvg;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float m = std::sqrt(in[n].i * in[n].i + in[n].q * in[n].q);
        avg += (m - avg) * agcAlpha;
        out[n] = (avg > kMinAverage) ? static_cast<float>(m / avg) * targetLevel : 0.0f;
    }
    runningAvg = avg;
}
