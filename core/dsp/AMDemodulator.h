#pragma once

#include <span>
#include <vector>

#include "device/IQSample.h"

// AM envelope detector with a carrier-level AGC: |s| divided by its own slow running average
// and scaled so an average envelope gives `targetLevel` (0.3). The output keeps that DC
// offset; the DC blocker removes it later. Output rate = input rate. One caller at a time.
class AMDemodulator {
public:
    AMDemodulator() = default;
    AMDemodulator(const AMDemodulator&) = delete;
    AMDemodulator& operator=(const AMDemodulator&) = delete;

    std::vector<float> demodulate(std::span<const IQSample> in);
    // Allocation-free form; out must hold in.size() values.
    void demodulate(std::span<const IQSample> in, std::span<float> out);
    void reset() { runningAvg = kInitialAverage; }

    float averageEnvelope() const { return runningAvg; }

private:
    static constexpr float kInitialAverage = 0.1f;
    // Below this average the carrier is taken as absent and the output is 0.
    static constexpr float kMinAverage = 0.0001f;

    float runningAvg = kInitialAverage;
    const float agcAlpha = 0.01f;
    const float targetLevel = 0.3f;
};
