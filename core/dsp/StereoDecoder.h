#pragma once

#include <span>
#include <vector>

#include "dsp/BandpassFilter.h"
#include "dsp/PilotPLL.h"
#include "dsp/SimpleLowpass.h"

struct StereoSamples {
    std::vector<float> left;
    std::vector<float> right;
    bool operator==(const StereoSamples&) const = default;
};

// FM stereo multiplex decoder (ITU-R BS.450 pilot-tone system) at 256,000 samples/s: pilot
// band-pass and PLL, L-R demodulated with the 38 kHz reference, sum and difference each
// through two cascaded 15 kHz one-pole low-passes, then matrixed. There is no pilot detector
// or blend: every sample is decoded as stereo. Output rate = input rate. One caller at a time.
class StereoDecoder {
public:
    explicit StereoDecoder(double sampleRate);
    StereoDecoder(const StereoDecoder&) = delete;
    StereoDecoder& operator=(const StereoDecoder&) = delete;

    StereoSamples process(std::span<const float> in);
    // Allocation-free form; left and right must each hold in.size() values.
    void process(std::span<const float> in, std::span<float> left, std::span<float> right);
    // Resets the pilot loop only; the filters keep their state.
    void reset() { pilotPLL.reset(); }

    const PilotPLL& pilotLoop() const { return pilotPLL; }

private:
    BandpassFilter pilotFilter;
    PilotPLL pilotPLL;
    SimpleLowpass lrLowpass1, lrLowpass2;
    SimpleLowpass mainLowpass1, mainLowpass2;
    const float stereoGain = 2.0f;
};
