#include "dsp/IQResampler.h"

#include <cassert>
#include <cmath>

#include <soxr.h>

void IQResampler::SoxrDeleter::operator()(soxr* handle) const noexcept {
    soxr_delete(handle);
}

std::unique_ptr<IQResampler> IQResampler::create(IQResamplerConfig config, std::string& error) {
    const auto usable = [](double hz) { return std::isfinite(hz) && hz > 0.0; };
    if (!usable(config.inputRateHz) || !usable(config.outputRateHz)) {
        error = "cannot resample from " + std::to_string(config.inputRateHz) + " Hz to " +
                std::to_string(config.outputRateHz) + " Hz";
        return nullptr;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
    // One thread: the replay already runs on its own, and OpenMP would add nothing for two
    // channels but start-up cost.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t failure = nullptr;
    soxr_t raw =
        soxr_create(config.inputRateHz, config.outputRateHz, 2, &failure, &io, &quality, &runtime);
    std::unique_ptr<soxr, SoxrDeleter> handle(raw);
    if (failure != nullptr || !handle) {
        error = std::string("cannot resample: ") + soxr_strerror(failure);
        return nullptr;
    }
    return std::unique_ptr<IQResampler>(new IQResampler(config, std::move(handle)));
}

IQResampler::IQResampler(IQResamplerConfig config, std::unique_ptr<soxr, SoxrDeleter> handle)
    : settings(config), handle(std::move(handle)) {}

IQResampler::~IQResampler() = default;

IQResampler::Progress IQResampler::process(std::span<const IQSample> in, std::span<IQSample> out) {
    Progress p;
    // An empty input is still a real (non-null) pointer: null would tell soxr the stream ended.
    static constexpr IQSample kNothing{};
    const IQSample* source = in.empty() ? &kNothing : in.data();
    const soxr_error_t failure = soxr_process(handle.get(), source, in.size(), &p.consumed,
                                              out.data(), out.size(), &p.produced);
    assert(failure == nullptr);
    (void)failure;
    return p;
}

void IQResampler::reset() {
    soxr_clear(handle.get());
}
