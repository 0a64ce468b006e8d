#pragma once

// Decides from the pilot loop's arms whether a stereo pilot is present and how much stereo
// the signal can carry. Fed once per loop update with the in-phase and quadrature arm means.
//
// Locked on a pilot, the in-phase arm averages to A/2 and the quadrature arm holds the noise
// around 19 kHz (in the arms' 200 Hz noise bandwidth); without a pilot, or while the loop
// slips, the in-phase arm averages to about zero. The pilot-to-noise ratio is the squared
// mean of the in-phase arm (over 25 ms) over the mean square of the quadrature arm (over
// 100 ms, steady to ±0.7 dB).
//
// After construction or reset the first 100 ms are the loop's to lock: a quadrature arm
// still turning towards lock would pass for noise far above the real one. The averages then
// start as plain means (unbiased from the first update) and decisions start 20 ms later.
// Presence has hysteresis: on at 10 dB, off below 6 dB. The stereo amount, 0 (mono) to 1
// (full stereo), follows the ratio from 20 dB (mono) to 40 dB (full stereo) and slews by at
// most a full swing per 100 ms, so a blend never clicks. With FM's noise rising with
// frequency, full stereo at 40 dB leaves the stereo audio about 37 dB above its noise after
// 50 µs de-emphasis, where mono would have about 53 dB; a strong station gives 50 dB and
// more. One caller at a time.
class PilotDetector {
public:
    explicit PilotDetector(double updateRateHz);
    PilotDetector(const PilotDetector&) = delete;
    PilotDetector& operator=(const PilotDetector&) = delete;

    void update(float inPhase, float quadrature);
    void reset();

    bool isPilotPresent() const { return present; }
    // 0 … 1; 0 whenever the pilot is absent.
    float stereoAmount() const { return amount; }
    // Pilot-to-noise ratio in dB; very low with no pilot or nothing measured yet.
    float pilotToNoiseDB() const;

private:
    const float inPhaseAlpha;
    const float quadratureAlpha;
    const float slewPerUpdate;
    const int lockUpdates;    // the loop's share after a reset
    const int firstDecision;  // the update after reset that decides first
    const int lastCounted;    // past it both averages are exponential

    float inPhaseMean = 0.0f;
    float quadraturePower = 0.0f;
    int updates = 0;  // since reset, up to lastCounted
    bool present = false;
    float amount = 0.0f;
};
