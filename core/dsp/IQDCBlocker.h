#pragma once

#include <span>

#include "device/IQSample.h"

// Removes the dongle's DC offset (LO leakage) from complex samples: y = x - mean, the mean a
// one-pole average with a corner of a few tens of hertz at 2,048,000 samples/s. The leak
// otherwise lands 40 kHz from the listened station, inside its channel, where the FM
// discriminator turns it into a swept whistle across the RDS band. One caller at a time;
// in-place use is allowed.
class IQDCBlocker {
public:
    explicit IQDCBlocker(float alpha = 1e-4f) : alpha(alpha) {}

    void process(std::span<const IQSample> in, std::span<IQSample> out) {
        for (std::size_t n = 0; n < in.size(); ++n) {
            const IQSample x = in[n];
            meanI += (static_cast<double>(x.i) - meanI) * alpha;
            meanQ += (static_cast<double>(x.q) - meanQ) * alpha;
            out[n] = {x.i - static_cast<float>(meanI), x.q - static_cast<float>(meanQ)};
        }
    }
    void reset() { meanI = meanQ = 0.0; }

private:
    double alpha;
    double meanI = 0.0, meanQ = 0.0;  // double: steps of 1e-4 would stall in float
};
