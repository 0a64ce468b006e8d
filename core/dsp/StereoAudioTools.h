#pragma once

#include <optional>
#include <span>

#include "dsp/NoiseReduction.h"
#include "dsp/NotchFilter.h"

// The listener's audio tools, noise reduction and then the notch, for the left channel and,
// in stereo, the right one. Each channel has its own objects: with one shared state the
// right channel would start each block from the left channel's envelope and filter memory,
// and a silent right channel would carry the left programme (about -25 dB).
//
// Audio rate (51,200 samples/s in the receiver), in place. Settings apply at the next block.
// One caller at a time.
class StereoAudioTools {
public:
    struct Config {
        float noiseReductionAmount = 0.5f;
        NotchFilter::Config notch;
    };
    struct Enabled {
        bool noiseReduction = false;
        bool notch = false;
    };

    explicit StereoAudioTools(const Config& config);
    StereoAudioTools(const StereoAudioTools&) = delete;
    StereoAudioTools& operator=(const StereoAudioTools&) = delete;

    // `right` is empty for mono; its tools then keep their state for when stereo returns.
    void process(std::span<float> left, std::span<float> right, Enabled enabled);

    void setNoiseReductionAmount(float amount);
    void configureNotch(const NotchFilter::Config& notch);

private:
    struct Channel {
        NoiseReduction noiseReduction;
        NotchFilter notch;
        void process(std::span<float> audio, Enabled enabled);
    };
    Channel left;
    Channel right;
};
