#pragma once

#include <span>
#include <vector>

#include "device/IQSample.h"

// Impulse blanker on complex IQ: a sample whose magnitude exceeds `thresholdMultiplier`
// times the running average magnitude is replaced by the last good sample; blanked samples
// do not update the average. A run above the threshold longer than any impulse is a rise in
// signal level, not noise: from then on samples pass and the average follows until the
// level is back under the threshold (otherwise a signal 4 × stronger than the average would
// be blanked for ever). The last good sample is carried across blocks (0 + 0i after
// construction), so the output does not depend on how the stream is cut. Output rate =
// input rate. In place allowed (out may be in). One caller at a time.
class NoiseBlanker {
public:
    explicit NoiseBlanker(float thresholdMultiplier = 4.0f);
    NoiseBlanker(const NoiseBlanker&) = delete;
    NoiseBlanker& operator=(const NoiseBlanker&) = delete;

    std::vector<IQSample> process(std::span<const IQSample> in);
    // Allocation-free form; out must hold in.size() values.
    void process(std::span<const IQSample> in, std::span<IQSample> out);
    void reset();

    // Read only when the receiver starts; not for use while another thread processes.
    void setThresholdMultiplier(float multiplier) { thresholdMultiplier = multiplier; }
    float averageMagnitude() const { return runningAvgMag; }

private:
    static constexpr float kInitialAverage = 0.05f;
    // Below this average nothing is blanked (no reference level yet).
    static constexpr float kMinAverage = 0.0001f;
    // 31 µs at 2,048,000 samples/s; impulse noise (ignition, switching) lasts a few µs.
    static constexpr int kMaxBlankedRun = 64;

    float runningAvgMag = kInitialAverage;
    const float emaAlpha = 0.001f;
    float thresholdMultiplier;
    IQSample lastGood{};
    int blankedRun = 0;  // consecutive samples above the threshold, up to kMaxBlankedRun
};
