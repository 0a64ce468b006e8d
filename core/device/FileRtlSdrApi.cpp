#include "device/FileRtlSdrApi.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include "dsp/IQResampler.h"
#include "platform/DebugLog.h"

namespace {

using ReplayClock = std::chrono::steady_clock;

// After a stall longer than this the schedule restarts from now instead of bursting.
constexpr auto kMaxLateness = std::chrono::seconds(1);
// Recorded samples read per resampler refill, whatever the buffer length.
constexpr std::size_t kInputChunkSamples = 32'768;

bool isDongleRate(std::uint32_t rateHz) {
    return (rateHz > 225'000 && rateHz <= 300'000) || (rateHz > 900'000 && rateHz <= 3'200'000);
}

// Rounds half up, which for these non-negative values is what std::round does, without its
// library call (the replay converts every sample twice, so this is a hot loop).
std::uint8_t toByte(double v) {
    const double x = std::clamp(v * 127.5 + 127.5, 0.0, 255.0);
    return static_cast<std::uint8_t>(x + 0.5);
}

double gainDBToAmplitude(double gainDB) { return std::pow(10.0, gainDB / 20.0); }

// The recording at the programmed rate. readLooping joins the file's end to its start, so
// the resampler sees one endless stream and the loop point neither drops nor repeats samples.
class ResampledReplay {
public:
    explicit ResampledReplay(FileIQRecording& recording)
        : recording(recording), input(kInputChunkSamples) {}

    // False, with `error` set, when no resampler can be made for the rate.
    bool setOutputRate(double rateHz, std::string& error) {
        if (rateHz == outputRateHz) return true;
        const double recordedHz = recording.info().sampleRateHz;
        resampler.reset();
        if (rateHz != recordedHz) {
            resampler =
                IQResampler::create({.inputRateHz = recordedHz, .outputRateHz = rateHz}, error);
            if (!resampler) return false;
        }
        outputRateHz = rateHz;
        return true;
    }

    // False when the recording can no longer be read.
    bool read(std::span<IQSample> out) {
        std::size_t done = 0;
        if (!resampler) {
            // Recorded samples the resampler had not taken before the rate changed go first.
            done = std::min(out.size(), pendingEnd - pendingBegin);
            std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(pendingBegin), done,
                        out.begin());
            pendingBegin += done;
            return recording.readLooping(out.subspan(done));
        }
        while (done < out.size()) {
            if (pendingBegin == pendingEnd) {
                if (!recording.readLooping(input)) return false;
                pendingBegin = 0;
                pendingEnd = input.size();
            }
            const std::span<const IQSample> pending(input.data() + pendingBegin,
                                                    pendingEnd - pendingBegin);
            const IQResampler::Progress p = resampler->process(pending, out.subspan(done));
            // With input offered and room left soxr always moves; a stall would spin forever.
            if (p.consumed == 0 && p.produced == 0) return false;
            pendingBegin += p.consumed;
            done += p.produced;
        }
        return true;
    }

private:
    FileIQRecording& recording;
    std::unique_ptr<IQResampler> resampler;  // none while the rates are equal
    std::vector<IQSample> input;
    std::size_t pendingBegin = 0;  // input[pendingBegin, pendingEnd) is read but not resampled
    std::size_t pendingEnd = 0;
    double outputRateHz = 0.0;
};

// Turns samples at the programmed rate into the bytes a dongle tuned `shiftHz` away from the
// recording's centre would deliver. The rotator is double precision and carries its phase
// across buffers and retunes, so a shifted station stays phase-continuous.
class ReplayRenderer {
public:
    void render(std::span<const IQSample> in, double shiftHz, double sampleRateHz, double gain,
                std::span<std::uint8_t> out) {
        if (shiftHz != stepShiftHz || sampleRateHz != stepRateHz) {
            stepShiftHz = shiftHz;
            stepRateHz = sampleRateHz;
            step = std::polar(1.0, -2.0 * std::numbers::pi * shiftHz / sampleRateHz);
        }
        const bool rotate = shiftHz != 0.0;
        for (std::size_t n = 0; n < in.size(); ++n) {
            // A non-finite float in a cf32 file must not reach the byte conversion.
            std::complex<double> v(std::isfinite(in[n].i) ? in[n].i : 0.0f,
                                   std::isfinite(in[n].q) ? in[n].q : 0.0f);
            if (rotate) {
                v *= phasor;
                phasor *= step;
            }
            v *= gain;
            out[2 * n] = toByte(v.real());
            out[2 * n + 1] = toByte(v.imag());
        }
        phasor /= std::abs(phasor);  // keep |phasor| = 1 against rounding drift
    }

    void renderEmptyBand(double gain, std::span<std::uint8_t> out) {
        const double sigma = FileRtlSdrApi::kEmptyBandNoiseLSB * gain;
        for (std::uint8_t& b : out)
            b = static_cast<std::uint8_t>(
                std::clamp(std::round(127.5 + sigma * gaussian(rng)), 0.0, 255.0));
    }

private:
    double stepShiftHz = 0.0;
    double stepRateHz = 0.0;
    std::complex<double> step{1.0, 0.0};
    std::complex<double> phasor{1.0, 0.0};
    std::mt19937 rng{20'480'000u};  // fixed seed: replays are repeatable
    std::normal_distribution<double> gaussian;
};

}  // namespace

FileRtlSdrApi::FileRtlSdrApi(FileRtlSdrOptions options) : options(std::move(options)) {
    if (!FileIQRecording::open(this->options.path, error, this->options.sampleRateHz)) return;
    error.clear();
}

FileRtlSdrApi::~FileRtlSdrApi() {
    std::unique_lock guard(lock);
    if (deviceOpen) {
        deviceOpen = false;
        cancelRequested = true;
        wake.notify_all();
        wake.wait(guard, [this] { return !reading; });
    }
}

std::string FileRtlSdrApi::lastError() const {
    std::lock_guard guard(lock);
    return error;
}

std::uint32_t FileRtlSdrApi::getDeviceCount() {
    std::lock_guard guard(lock);
    if (deviceOpen) return 1;
    std::string why;
    if (!FileIQRecording::open(options.path, why, options.sampleRateHz)) {
        error = why;
        return 0;
    }
    error.clear();
    return 1;
}

int FileRtlSdrApi::open(Handle* handle, std::uint32_t index) {
    std::lock_guard guard(lock);
    *handle = nullptr;
    if (deviceOpen) {
        error = "recording " + options.path.string() + " is already open";
        return kErrorBusy;
    }
    if (index != 0) {
        error = "a recording is device 0; there is no device " + std::to_string(index);
        return kErrorBadRecording;
    }
    std::string why;
    recording = FileIQRecording::open(options.path, why, options.sampleRateHz);
    if (!recording) {
        error = why;
        return kErrorBadRecording;
    }
    error.clear();
    const FileIQRecordingInfo& info = recording->info();
    recordingCenterHz = info.centerFrequencyHz ? info.centerFrequencyHz : options.centerFrequencyHz;
    tunedHz.reset();
    sampleRateHz = kDefaultSampleRateHz;
    manualGain = false;
    gainTenthsDB = 0;
    cancelRequested = false;
    deviceOpen = true;
    *handle = this;
    return 0;
}

int FileRtlSdrApi::close(Handle handle) {
    std::unique_lock guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    deviceOpen = false;
    if (!reading) {
        recording.reset();
        cancelRequested = false;
        return 0;
    }
    cancelRequested = true;
    wake.notify_all();
    // Closed from inside a callback: the read releases the recording as it returns.
    if (std::this_thread::get_id() == readerThread) return 0;
    wake.wait(guard, [this] { return !reading; });
    return 0;
}

int FileRtlSdrApi::setSampleRate(Handle handle, std::uint32_t rateHz) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    if (!isDongleRate(rateHz)) return kErrorBadSampleRate;
    sampleRateHz = rateHz;
    const double recorded = recording->info().sampleRateHz;
    if (recorded != rateHz)
        DebugLog::writef("📼 recording rate %.0f Hz, programmed %u Hz: resampling", recorded,
                         rateHz);
    return 0;
}

int FileRtlSdrApi::setCenterFreq(Handle handle, std::uint32_t frequencyHz) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    tunedHz = frequencyHz;
    if (!recordingCenterHz) recordingCenterHz = frequencyHz;
    return 0;
}

int FileRtlSdrApi::setTunerGainMode(Handle handle, int manual) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    manualGain = manual != 0;
    return 0;
}

int FileRtlSdrApi::setTunerGain(Handle handle, int tenthsDB) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    gainTenthsDB = tenthsDB;
    return 0;
}

int FileRtlSdrApi::setAgcMode(Handle handle, int) {
    std::lock_guard guard(lock);
    return isValid(handle) ? 0 : kErrorNotOpen;
}

int FileRtlSdrApi::setFreqCorrection(Handle handle, int) {
    std::lock_guard guard(lock);
    return isValid(handle) ? 0 : kErrorNotOpen;
}

int FileRtlSdrApi::resetBuffer(Handle handle) {
    std::lock_guard guard(lock);
    return isValid(handle) ? 0 : kErrorNotOpen;
}

int FileRtlSdrApi::cancelAsync(Handle handle) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    cancelRequested = true;
    wake.notify_all();
    return 0;
}

FileRtlSdrApi::Snapshot FileRtlSdrApi::snapshot() const {
    Snapshot s;
    s.sampleRateHz = sampleRateHz;
    if (manualGain) s.gain = gainDBToAmplitude(kGainFraction * gainTenthsDB / 10.0);
    if (!tunedHz || !recordingCenterHz) {
        s.shiftHz = 0.0;
    } else {
        const double shift = static_cast<double>(*tunedHz) - *recordingCenterHz;
        if (std::abs(shift) <= kTuningRangeHz) s.shiftHz = shift;
    }
    return s;
}

int FileRtlSdrApi::readAsync(Handle handle, ReadCallback callback, void* context,
                             std::uint32_t /*bufferCount*/, std::uint32_t bufferLength) {
    {
        std::lock_guard guard(lock);
        if (!isValid(handle) || callback == nullptr) return kErrorNotOpen;
        if (reading) return kErrorBusy;
        if (cancelRequested) {
            cancelRequested = false;
            return 0;
        }
        reading = true;
        readerThread = std::this_thread::get_id();
    }
    const std::uint32_t lengthBytes =
        std::max<std::uint32_t>(2, (bufferLength == 0 ? kDefaultBufferBytes : bufferLength) & ~1u);
    std::vector<std::uint8_t> bytes(lengthBytes);
    std::vector<IQSample> samples(lengthBytes / 2);
    ResampledReplay replay(*recording);
    ReplayRenderer renderer;

    int result = 0;
    std::string why;
    auto deadline = ReplayClock::now();
    for (;;) {
        Snapshot s;
        {
            std::lock_guard guard(lock);
            if (cancelRequested) break;
            s = snapshot();
        }
        if (!replay.setOutputRate(s.sampleRateHz, why)) {
            std::lock_guard guard(lock);
            error = "recording " + options.path.string() + ": " + why;
            result = kErrorReadFailed;
            break;
        }
        if (!replay.read(samples)) {
            std::lock_guard guard(lock);
            error = "recording " + options.path.string() + " can no longer be read";
            result = kErrorReadFailed;
            break;
        }
        // from here on: the programmed rate
        if (s.shiftHz)
            renderer.render(samples, *s.shiftHz, s.sampleRateHz, s.gain, bytes);
        else
            renderer.renderEmptyBand(s.gain, bytes);
        callback(bytes.data(), lengthBytes, context);

        if (options.speed <= 0.0) continue;
        const std::chrono::duration<double> period(samples.size() /
                                                   (s.sampleRateHz * options.speed));
        deadline += std::chrono::duration_cast<ReplayClock::duration>(period);
        std::unique_lock guard(lock);
        wake.wait_until(guard, deadline, [this] { return cancelRequested; });
        if (ReplayClock::now() - deadline > kMaxLateness) deadline = ReplayClock::now();
    }

    std::lock_guard guard(lock);
    reading = false;
    cancelRequested = false;
    readerThread = {};
    if (!deviceOpen) recording.reset();
    wake.notify_all();
    return result;
}
