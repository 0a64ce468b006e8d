#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "dsp/SoxrStream.h"

struct AudioResamplerConfig {
    double inputRateHz = 48'000.0;
    double outputRateHz = 51'200.0;
    bool operator==(const AudioResamplerConfig&) const = default;
};

// Real audio at inputRateHz in, the same audio at outputRateHz out, through libsoxr's
// high-quality linear-phase filter (flat to 91.3 % of the narrower rate's Nyquist frequency,
// anything above it removed). The real-signal twin of IQResampler.
//
// Streaming: output sample k lies at input time k / outputRateHz and does not depend on how
// input and output are cut into blocks. The filter holds back a few milliseconds; drain()
// releases them at the end of the input. One caller at a time.
class AudioResampler {
public:
    using Progress = SoxrStream::Progress;  // in samples

    // nullptr, with `error` set, when the rates are not finite and positive or soxr refuses them.
    static std::unique_ptr<AudioResampler> create(AudioResamplerConfig config, std::string& error);
    AudioResampler(const AudioResampler&) = delete;
    AudioResampler& operator=(const AudioResampler&) = delete;

    // Takes what it can of `in` and writes up to out.size() samples. Once out is full the
    // rest of `in` is left alone and must be offered again: consumed < in.size() means that.
    Progress process(std::span<const float> in, std::span<float> out);
    // The input has ended: writes up to out.size() of the samples still in the filter and
    // returns how many; call until it returns 0. Only reset() accepts input afterwards.
    std::size_t drain(std::span<float> out);
    // Forgets the signal so far; the next input starts a fresh stream.
    void reset();

    const AudioResamplerConfig& config() const { return settings; }

private:
    AudioResampler(AudioResamplerConfig config, std::unique_ptr<SoxrStream> stream)
        : settings(config), stream(std::move(stream)) {}

    AudioResamplerConfig settings;
    std::unique_ptr<SoxrStream> stream;
};
