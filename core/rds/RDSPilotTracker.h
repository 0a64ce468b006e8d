#pragma once

#include <complex>

// Phase-locked loop on the stereo pilot at complex baseband (RDSChannelFilter's pilot stream,
// ~2 kHz), with a presence decision for the RDS demodulator.
//
// Second-order loop (natural frequency 5 Hz, damping 0.7) on the exact phase error, atan2 of
// the pilot against the loop's phase, so the gain does not depend on the pilot level. The
// frequency is held within +-30 Hz: transmitters keep the pilot within 2 Hz and receiver
// clocks are off by 100 ppm (1.9 Hz) at worst.
//
// Presence: the coherence mean(Re u)^2 / mean(|u|^2) of the pilot turned by the loop's phase,
// u, over ~20 ms. A locked pilot gives 1 (less the noise share), a mono station's noise
// about 1/80; the pilot counts as present above 0.6 and as gone below 0.3, which takes
// ~25 ms after it stops.
//
// One sample per call; one caller at a time.
class RDSPilotTracker {
public:
    explicit RDSPilotTracker(double sampleRateHz);
    RDSPilotTracker(const RDSPilotTracker&) = delete;
    RDSPilotTracker& operator=(const RDSPilotTracker&) = delete;

    void process(std::complex<float> pilot);
    void reset();

    bool isLocked() const { return locked; }
    // The loop's phase for the next sample, in [-pi, pi), and its step per sample.
    double phaseRad() const { return phase; }
    double freqRadPerSample() const { return freq; }

private:
    const double phaseGain;
    const double freqGain;
    const double maxFreqRad;
    const float coherenceAlpha;

    double phase = 0.0;
    double freq = 0.0;
    float meanInPhase = 0.0f;
    float meanPower = 0.0f;
    bool locked = false;
};
