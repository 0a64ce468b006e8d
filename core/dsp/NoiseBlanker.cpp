#include "dsp/NoiseBlanker.h"

#include <cassert>
#include <cmath>

NoiseBlanker::NoiseBlanker(float multiplier) : thresholdMultiplier(multiplier) {}

std::vector<IQSample> NoiseBlanker::process(std::span<const IQSample> in) {
    std::vector<IQSample> out(in.size());
    process(in, out);
    return out;
}

void NoiseBlanker::process(std::span<const IQSample> in, std::span<IQSample> out) {
    assert(out.size() >= in.size());
    float avg = runningAvgMag;
    IQSample h = lastGood;
    int run = blankedRun;
    for (std::size_t n = 0; n < in.size(); ++n) {
        const IQSample s = in[n];
        const float m = std::sqrt(s.i * s.i + s.q * s.q);
        if (avg > kMinAverage && m > avg * thresholdMultiplier) {
            if (run < kMaxBlankedRun) {
                ++run;
                out[n] = h;
                continue;
            }
        } else {
            run = 0;
        }
        out[n] = s;
        avg += (m - avg) * emaAlpha;
        h = s;
    }
    runningAvgMag = avg;
    lastGood = h;
    blankedRun = run;
}

void NoiseBlanker::reset() {
    runningAvgMag = kInitialAverage;
    lastGood = {};
    blankedRun = 0;
}
