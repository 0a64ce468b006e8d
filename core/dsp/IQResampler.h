#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "device/IQSample.h"

#include "dsp/SoxrStream.h"

struct IQResamplerConfig {
    double inputRateHz = 2'048'000.0;
    double outputRateHz = 2'048'000.0;
    bool operator==(const IQResamplerConfig&) const = default;
};

// Complex baseband at inputRateHz in, the same band at outputRateHz out, through libsoxr's
// high-quality linear-phase filter: flat within 0.01 dB to 91.3 % of the narrower rate's band
// edge (±913 kHz between 2.0 and 2.048 MS/s), anything beyond the edge removed. I and Q pass
// as soxr's two interleaved float channels, which is exactly a complex resampler because the
// filter is real.
//
// Streaming: soxr hides its filter delay, so output sample k lies at input time
// k / outputRateHz, and the output does not depend on how input and output are cut into
// blocks. The first output appears only once the filter has seen enough input. Scratch grows
// to the largest block offered and then stays. One caller at a time.
class IQResampler {
public:
    using Progress = SoxrStream::Progress;  // in complex samples

    // nullptr, with `error` set, when the rates are not finite and positive or soxr refuses them.
    static std::unique_ptr<IQResampler> create(IQResamplerConfig config, std::string& error);
    IQResampler(const IQResampler&) = delete;
    IQResampler& operator=(const IQResampler&) = delete;

    // Takes what it can of `in` and writes up to out.size() samples. Once out is full the
    // rest of `in` is left alone and must be offered again: consumed < in.size() means that.
    Progress process(std::span<const IQSample> in, std::span<IQSample> out);
    // Forgets the signal so far; the next input starts a fresh stream.
    void reset();

    const IQResamplerConfig& config() const { return settings; }

private:
    IQResampler(IQResamplerConfig config, std::unique_ptr<SoxrStream> stream)
        : settings(config), stream(std::move(stream)) {}

    IQResamplerConfig settings;
    std::unique_ptr<SoxrStream> stream;
};
