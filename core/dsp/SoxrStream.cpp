#include "dsp/SoxrStream.h"

#include <cassert>
#include <cmath>

#include <soxr.h>

void SoxrStream::Deleter::operator()(soxr* h) const noexcept { soxr_delete(h); }

SoxrStream::~SoxrStream() = default;

std::unique_ptr<SoxrStream> SoxrStream::open(double inputRateHz, double outputRateHz,
                                             unsigned channels, std::string& error) {
    const auto usable = [](double hz) { return std::isfinite(hz) && hz > 0.0; };
    if (!usable(inputRateHz) || !usable(outputRateHz)) {
        error = "cannot resample from " + std::to_string(inputRateHz) + " Hz to " +
                std::to_string(outputRateHz) + " Hz";
        return nullptr;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
    // One thread: the callers already run on threads of their own, and OpenMP would add only
    // start-up cost for one or two channels.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t failure = nullptr;
    soxr_t raw = soxr_create(inputRateHz, outputRateHz, channels, &failure, &io, &quality, &runtime);
    std::unique_ptr<soxr, Deleter> handle(raw);
    if (failure != nullptr || !handle) {
        error = std::string("cannot resample: ") + soxr_strerror(failure);
        return nullptr;
    }
    return std::unique_ptr<SoxrStream>(new SoxrStream(std::move(handle)));
}

SoxrStream::Progress SoxrStream::process(const float* in, std::size_t inFrames, float* out,
                                         std::size_t outFrames) {
    Progress p;
    // An empty input is still a real (non-null) pointer: null would tell soxr the input ended.
    static constexpr float kNothing[2] = {0.0f, 0.0f};
    const soxr_error_t failure = soxr_process(handle.get(), inFrames ? in : kNothing, inFrames,
                                              &p.consumed, out, outFrames, &p.produced);
    assert(failure == nullptr);
    (void)failure;
    return p;
}

std::size_t SoxrStream::drain(float* out, std::size_t outFrames) {
    std::size_t produced = 0;
    const soxr_error_t failure =
        soxr_process(handle.get(), nullptr, 0, nullptr, out, outFrames, &produced);
    assert(failure == nullptr);
    (void)failure;
    return produced;
}

void SoxrStream::reset() { soxr_clear(handle.get()); }
