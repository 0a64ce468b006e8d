#include "dsp/Decimator.h"

#include <cassert>

#include "dsp/FIRTaps.h"

Decimator::Decimator(int factor, double inputRate)
    : stage(FIRTaps::kaiserLowpass({.sampleRateHz = inputRate,
                                    .passbandHz = kAudioPassbandHz,
                                    .stopbandHz = kAudioStopbandHz,
                                    .attenuationDB = 70.0}),
            factor) {
    assert(factor >= 1 && inputRate / factor >= kAudioPassbandHz + kAudioStopbandHz);
}

std::vector<float> Decimator::process(std::span<const float> in) {
    std::vector<float> out(outputCount(in.size()));
    process(in, out);
    return out;
}

std::size_t Decimator::process(std::span<const float> in, std::span<float> out) {
    return stage.process(in, out);
}
