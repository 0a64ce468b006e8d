#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/SimpleLowpass.h"

// Phase-locked loop on the band-passed 19 kHz stereo pilot; returns, for each sample, the
// 38 kHz reference in phase with the transmitted L-R subcarrier (ITU-R BS.450: the
// subcarrier is the pilot's second harmonic, both crossing zero upwards together). The loop
// error is normalised by the pilot's 30 Hz envelope, so its gains do not depend on level;
// the frequency is held within ±800 Hz of 19 kHz. The loop is lightly damped: from a cold
// start on a clean pilot it settles in about 2 s. One sample per call; one caller at a time.
class PilotPLL {
public:
    explicit PilotPLL(double sampleRate);
    PilotPLL(const PilotPLL&) = delete;
    PilotPLL& operator=(const PilotPLL&) = delete;

    float process(float x);
    // Phase and frequency only; the envelope follower keeps its value.
    void reset() {
        phase = 0.0;
        freq = centerFreq;
    }

    double phaseRad() const { return phase; }
    double freqRadPerSample() const { return freq; }
    double centerFreqRadPerSample() const { return centerFreq; }
    double freqRangeRadPerSample() const { return freqRange; }

private:
    static constexpr double kTwoPi = 2.0 * std::numbers::pi;
    // The envelope divisor is held here so silence gives zero error instead of 0/0.
    static constexpr float kMinEnvelope = 0.0005f;

    // Slow path for steps beyond one turn (a burst after silence divides by kMinEnvelope)
    // and for the rounding case where adding 2π to a tiny negative phase gives 2π.
    static double wrapFar(double p);

    double phase = 0.0;  // [0, 2π)
    double freq;         // radians per sample
    const double centerFreq;
    const double freqRange;
    const double phaseGain = 0.06;
    const double freqGain = 0.0008;
    SimpleLowpass envelopeLowpass;
};

inline float PilotPLL::process(float x) {
    // Locked, the error x · sin(phase) averages to zero with `phase` a quarter turn ahead of
    // the pilot sine θ, so the subcarrier sin(2θ) is -sin(2 · phase). It is taken from the
    // phase this sample's error is measured against, before the update: the updated phase
    // belongs to the next sample and would be 2 × 19 kHz / fs turns (53° at 256 kHz) early.
    const float reference = static_cast<float>(-std::sin(2.0 * phase));
    const float e = envelopeLowpass.process(std::fabs(x));
    const float error = x / std::max(e, kMinEnvelope) * static_cast<float>(std::sin(phase));
    freq =
        std::clamp(freq + error * freqGain * 0.001, centerFreq - freqRange, centerFreq + freqRange);
    phase += error * phaseGain * 0.001 + freq;
    if (phase >= kTwoPi)
        phase -= kTwoPi;
    else if (phase < 0.0)
        phase += kTwoPi;
    if (!(phase >= 0.0 && phase < kTwoPi)) phase = wrapFar(phase);
    return reference;
}
