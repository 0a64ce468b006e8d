#include "dsp/AudioResampler.h"

std::unique_ptr<AudioResampler> AudioResampler::create(AudioResamplerConfig config,
                                                       std::string& error) {
    std::unique_ptr<SoxrStream> stream =
        SoxrStream::open(config.inputRateHz, config.outputRateHz, 1, error);
    if (!stream) return nullptr;
    return std::unique_ptr<AudioResampler>(new AudioResampler(config, std::move(stream)));
}

AudioResampler::Progress AudioResampler::process(std::span<const float> in, std::span<float> out) {
    return stream->process(in.data(), in.size(), out.data(), out.size());
}

std::size_t AudioResampler::drain(std::span<float> out) {
    return stream->drain(out.data(), out.size());
}

void AudioResampler::reset() { stream->reset(); }
