#include "dsp/AudioResampler.h"

#include <cassert>
#include <cmath>

#include <soxr.h>

void AudioResampler::SoxrDeleter::operator()(soxr* handle) const noexcept {
    soxr_delete(handle);
}

std::unique_ptr<AudioResampler> AudioResampler::create(AudioResamplerConfig config,
                                                       std::string& error) {
    const auto usable = [](double hz) { return std::isfinite(hz) && hz > 0.0; };
    if (!usable(config.inputRateHz) || !usable(config.outputRateHz)) {
        error = "cannot resample audio from " + std::to_string(config.inputRateHz) + " Hz to " +
                std::to_string(config.outputRateHz) + " Hz";
        return nullptr;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
    // One thread: one channel gives OpenMP nothing to share out.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t failure = nullptr;
    soxr_t raw =
        soxr_create(config.inputRateHz, config.outputRateHz, 1, &failure, &io, &quality, &runtime);
    std::unique_ptr<soxr, SoxrDeleter> handle(raw);
    if (failure != nullptr || !handle) {
        error = std::string("cannot resample audio: ") + soxr_strerror(failure);
        return nullptr;
    }
    return std::unique_ptr<AudioResampler>(new AudioResampler(config, std::move(handle)));
}

AudioResampler::AudioResampler(AudioResamplerConfig config, std::unique_ptr<soxr, SoxrDeleter> h)
    : settings(config), handle(std::move(h)) {}

AudioResampler::~AudioResampler() = default;

AudioResampler::Progress AudioResampler::process(std::span<const float> in, std::span<float> out) {
    Progress p;
    // An empty input is still a real (non-null) pointer: null would tell soxr the input ended.
    static constexpr float kNothing = 0.0f;
    const float* source = in.empty() ? &kNothing : in.data();
    const soxr_error_t failure = soxr_process(handle.get(), source, in.size(), &p.consumed,
                                              out.data(), out.size(), &p.produced);
    assert(failure == nullptr);
    (void)failure;
    return p;
}

std::size_t AudioResampler::drain(std::span<float> out) {
    std::size_t produced = 0;
    const soxr_error_t failure =
        soxr_process(handle.get(), nullptr, 0, nullptr, out.data(), out.size(), &produced);
    assert(failure == nullptr);
    (void)failure;
    return produced;
}

void AudioResampler::reset() {
    soxr_clear(handle.get());
}
