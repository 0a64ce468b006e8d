#pragma once

#include <cstddef>
#include <span>

#include "device/IQSample.h"

// Removes the dongle's DC offset (LO leakage) from complex samples: y = x - mean, the mean a
// one-pole average with a corner of about 3.3 Hz (49 ms) at 2,048,000 samples/s. The leak
// otherwise lands 40 kHz from the listened station, inside its channel, where the FM
// discriminator turns it into a swept whistle across the RDS band. The corner is low because
// the station's own spectrum sweeps across DC too: what the notch takes out of it comes back
// as distortion (at 33 Hz, a low tone leaked into the other stereo channel at -28 dB).
//
// The average is updated once per 32 samples from their sum (a one-pole on 32-sample means,
// same corner), and each group has the mean of the groups before it subtracted, so the
// per-sample work vectorises. Groups sit on a fixed grid of the stream, so the output does
// not depend on how the input is cut. One caller at a time; in-place use is allowed.
class IQDCBlocker {
public:
    explicit IQDCBlocker(float alpha = 1e-5f);

    void process(std::span<const IQSample> in, std::span<IQSample> out);
    void reset();

private:
    static constexpr std::size_t kGroup = 32;

    double groupAlpha;                // 1 - (1 - alpha)^32: the same decay per group
    double meanI = 0.0, meanQ = 0.0;  // double: steps of 1e-4 would stall in float
    float sumI = 0.0f, sumQ = 0.0f;   // of the current group so far
    std::size_t filled = 0;           // samples in the current group
};
