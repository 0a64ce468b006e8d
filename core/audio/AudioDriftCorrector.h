#pragma once

struct AudioDriftCorrectorConfig {
    double targetSeconds = 0.4;  // queue depth to hold
    // Depth errors within this are left alone: with matched clocks the ratio stays exactly
    // nominal, and a queue sawing with bursty pushes or a busy machine does not move it.
    double toleranceSeconds = 0.05;
    double maxCorrection = 0.005;  // ±0.5 %: a pitch error nobody hears, and enough for any crystal
    // How fast a depth error is worked off (the proportional gain is its inverse).
    double timeConstantSeconds = 5.0;
    // Depth is averaged over about this long first: producers push in bursts (a 4 ms analog
    // block, a 120 ms DAB superframe) and devices take in periods, so the raw depth saws.
    double smoothingSeconds = 1.0;
    // The correction moves at most this much per second (0.1 %/s): clock drift is slow, so a
    // faster change is a producer pausing or bursting, and following it would bend the pitch.
    double maxSlewPerSecond = 0.001;
    bool operator==(const AudioDriftCorrectorConfig&) const = default;
};

// The slow loop that keeps a player's queue at its target depth when the producer's clock
// and the sound device's clock differ: from the depth seen at each render callback it gives
// the fraction by which to consume faster (> 0) or slower (< 0) than nominal.
//
// A PI controller on the smoothed depth error beyond the tolerance, critically damped
// (integral gain = square of the proportional gain / 4), output and integral clamped to
// ±maxCorrection, output slew limited. Once the integral has learnt a clock offset it holds
// it while the depth is within tolerance. Time is the device's own: each update says how
// much output the callback covers. Not thread-safe.
class AudioDriftCorrector {
public:
    explicit AudioDriftCorrector(AudioDriftCorrectorConfig config = {});

    // Depth before this callback took from the queue, and the output time the callback covers.
    // Returns the correction for this callback.
    double update(double depthSeconds, double elapsedSeconds);
    double correction() const { return lastCorrection; }
    double smoothedDepthSeconds() const { return smoothedDepth; }
    // Forgets the history: after a re-prime or a skip the old depths say nothing of the clocks.
    void reset();

private:
    AudioDriftCorrectorConfig cfg;
    bool hasDepth = false;
    double smoothedDepth = 0.0;
    double integral = 0.0;  // depth error × seconds
    double lastCorrection = 0.0;
};
