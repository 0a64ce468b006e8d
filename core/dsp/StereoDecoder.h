#pragma once

#include <span>
#include <vector>

#include "dsp/PilotDetector.h"
#include "dsp/PilotPLL.h"

struct StereoSamples {
    std::vector<float> left;
    std::vector<float> right;
    bool operator==(const StereoSamples&) const = default;
};

// FM stereo multiplex decoder (ITU-R BS.450 pilot-tone system). The multiplex
//   m = S + D·sin 2θ + pilot·sin θ,  S = (L+R)/2, D = (L-R)/2,
// is matrixed with the pilot loop's 38 kHz reference r = sin 2φ and the stereo amount b:
//   left = m + b·2m·r,  right = m - b·2m·r,
// which after a 15 kHz low-pass are S + b·D and S - b·D. The outputs still carry the pilot and
// the subcarriers: the caller's audio decimator removes them with the filter mono uses, so S
// and D, and mono and stereo, share one response. Without a pilot b is 0 and both outputs
// are the multiplex itself; as the pilot's noise grows b blends towards mono (PilotDetector).
//
// Input and outputs at the multiplex rate (256,000 samples/s in the receiver). One caller at
// a time.
class StereoDecoder {
public:
    explicit StereoDecoder(double sampleRate);
    StereoDecoder(const StereoDecoder&) = delete;
    StereoDecoder& operator=(const StereoDecoder&) = delete;

    StereoSamples process(std::span<const float> in);
    // Allocation-free form; left and right must each hold in.size() values.
    void process(std::span<const float> in, std::span<float> left, std::span<float> right);
    // Back to the just-constructed state (loop, detector, mono). Call on every retune: the
    // new station's pilot has another phase and perhaps none at all.
    void reset();

    bool isPilotPresent() const { return detector.isPilotPresent(); }
    // 0 (mono) … 1 (full stereo), as applied to the last sample.
    float stereoAmount() const { return detector.stereoAmount(); }
    float pilotToNoiseDB() const { return detector.pilotToNoiseDB(); }
    const PilotPLL& pilotLoop() const { return pilotPLL; }

private:
    PilotPLL pilotPLL;
    PilotDetector detector;
};
