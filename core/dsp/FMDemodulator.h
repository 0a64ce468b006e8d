#pragma once

#include <atomic>
#include <span>
#include <vector>

#include "device/IQSample.h"

// Quadrature FM discriminator: the phase step between consecutive IQ samples, in radians,
// times `gain` (0.35 wide-band, 5.25 narrow-band). Output rate = input rate. One caller at a
// time, except setGain(), which any thread may call; the gain is read once per block.
class FMDemodulator {
public:
    explicit FMDemodulator(float gain);
    FMDemodulator(const FMDemodulator&) = delete;
    FMDemodulator& operator=(const FMDemodulator&) = delete;

    std::vector<float> demodulate(std::span<const IQSample> in);
    // Allocation-free form; out must hold in.size() values.
    void demodulate(std::span<const IQSample> in, std::span<float> out);

    void setGain(float g) { gain.store(g, std::memory_order_relaxed); }
    float currentGain() const { return gain.load(std::memory_order_relaxed); }
    // Previous sample back to (0, 0); the gain is kept.
    void reset() {
        prevI = 0.0f;
        prevQ = 0.0f;
    }

private:
    float prevI = 0.0f;  // carried so block edges are seamless
    float prevQ = 0.0f;
    std::atomic<float> gain;
};
