#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "dsp/StreamingFIRDecimator.h"

// Decimation of demodulated audio to the audio rate in one FIR stage (256,000 Hz in, 51,200
// Hz out in the receiver), the same for mono and for each stereo channel so both paths share
// one response. Kaiser taps: flat to 15 kHz (ripple 0.003 dB), 70 dB down from 19 kHz (the
// stereo pilot) on, which also removes the subcarriers and whatever would fold into the
// audio band. Only the kept outputs are computed. One caller at a time.
class Decimator {
public:
    static constexpr double kAudioPassbandHz = 15'000.0;
    static constexpr double kAudioStopbandHz = 19'000.0;

    // inputRate / factor must be at least the pass plus the stop edge (34 kHz), so the
    // transition band folds above the audio band.
    Decimator(int factor, double inputRate);
    Decimator(const Decimator&) = delete;
    Decimator& operator=(const Decimator&) = delete;

    std::vector<float> process(std::span<const float> in);
    // Allocation-free form: out must hold outputCount(in.size()) values; returns that count.
    std::size_t process(std::span<const float> in, std::span<float> out);

    std::size_t outputCount(std::size_t inputCount) const { return stage.outputCount(inputCount); }
    void reset() { stage.reset(); }

    int factor() const { return stage.decimationFactor(); }
    const std::vector<float>& taps() const { return stage.coefficients(); }

private:
    StreamingFIRDecimator stage;
};
