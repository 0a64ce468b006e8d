#include "dsp/IQResampler.h"

std::unique_ptr<IQResampler> IQResampler::create(IQResamplerConfig config, std::string& error) {
    // I and Q as two interleaved channels: a real filter on each is exactly a complex one.
    std::unique_ptr<SoxrStream> stream =
        SoxrStream::open(config.inputRateHz, config.outputRateHz, 2, error);
    if (!stream) return nullptr;
    return std::unique_ptr<IQResampler>(new IQResampler(config, std::move(stream)));
}

IQResampler::Progress IQResampler::process(std::span<const IQSample> in, std::span<IQSample> out) {
    static_assert(sizeof(IQSample) == 2 * sizeof(float));
    return stream->process(reinterpret_cast<const float*>(in.data()), in.size(),
                           reinterpret_cast<float*>(out.data()), out.size());
}

void IQResampler::reset() { stream->reset(); }
