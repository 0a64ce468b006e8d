#pragma once

#include <span>
#include <vector>

#include "device/IQSample.h"

// AM envelope detector with a carrier-level AGC: |s| divided by its own slow running average
// and scaled so an average envelope gives `targetLevel` (0.3). The output keeps that DC
// offset; the DC blocker removes it later. Output rate = input rate (256,000 samples/s in
// the receiver). One caller at a time.
class AMDemodulator {
public:
    explicit AMDemodulator(double sampleRateHz);
    AMDemodulator(const AMDemodulator&) = delete;
    AMDemodulator& operator=(const AMDemodulator&) = delete;

    std::vector<float> demodulate(std::span<const IQSample> in);
    // Allocation-free form; out must hold in.size() values.
    void demodulate(std::span<const IQSample> in, std::span<float> out);
    void reset() { runningAvg = kInitialAverage; }

    float averageEnvelope() const { return static_cast<float>(runningAvg); }

private:
    static constexpr double kInitialAverage = 0.1;
    // Below this average the carrier is taken as absent and the output is 0.
    static constexpr double kMinAverage = 0.0001;

    // double: steps of 1e-5 of the difference would vanish in a float average, which then
    // stalls up to 0.3 % away from the carrier level
    double runningAvg = kInitialAverage;
    // 49 ms time constant (corner 3.3 Hz), so the average follows the carrier level and not
    // the programme: with a 3.3 kHz corner a 300 Hz tone at 50 % modulation would come out
    // about 15 dB low.
    const double agcAlpha;
    const float targetLevel = 0.3f;
};
