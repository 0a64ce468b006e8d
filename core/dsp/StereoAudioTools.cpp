#include "dsp/StereoAudioTools.h"

StereoAudioTools::StereoAudioTools(const Config& config)
    : left{NoiseReduction(config.noiseReductionAmount), NotchFilter(config.notch)},
      right{NoiseReduction(config.noiseReductionAmount), NotchFilter(config.notch)} {}

void StereoAudioTools::Channel::process(std::span<float> audio, Enabled enabled) {
    if (enabled.noiseReduction) noiseReduction.process(audio, audio);
    if (enabled.notch) notch.process(audio, audio);
}

void StereoAudioTools::process(std::span<float> leftAudio, std::span<float> rightAudio,
                               Enabled enabled) {
    left.process(leftAudio, enabled);
    if (!rightAudio.empty()) right.process(rightAudio, enabled);
}

void StereoAudioTools::setNoiseReductionAmount(float amount) {
    left.noiseReduction.setAmount(amount);
    right.noiseReduction.setAmount(amount);
}

void StereoAudioTools::configureNotch(const NotchFilter::Config& notch) {
    left.notch.configure(notch);
    right.notch.configure(notch);
}
