#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "device/FileIQRecording.h"
#include "device/RtlSdrApi.h"

struct FileRtlSdrOptions {
    std::filesystem::path path{};  // .cu8/.bin/.raw, .cs16 or .cf32, maybe with a SigMF sidecar
    std::optional<double> centerFrequencyHz{};  // where the recording was tuned; the sidecar wins
    // The recording's sample rate. Unlike the centre this overrides the sidecar: the user
    // giving it knows the sidecar is missing or wrong.
    std::optional<double> sampleRateHz{};
    double speed = 1.0;  // 1 = real time, 2 = twice as fast, <= 0 = unpaced
};

// A recording replayed as if it were a live dongle (one device, index 0). readAsync delivers
// buffers of unsigned 8-bit I/Q at the programmed sample rate (2,048,000 samples/s until
// setSampleRate says otherwise), paced at that rate times `speed` on a steady-clock deadline
// schedule, looping at the end of the file, until cancelAsync or close. A callback that waits
// (the receiver's ring is full) simply delays the next buffer: a recording can wait, so the
// replay never runs ahead of the receiver and loses nothing (canWaitForReader).
//
// Rate: a recording made at another rate is resampled to the programmed one (IQResampler).
// The loop joins the file's end to its start before the resampler, so no sample is lost or
// repeated there; a change of programmed rate during a read restarts the resampler and drops
// the samples still inside its filter, as a dongle drops samples when reprogrammed.
//
// Tuning: within ±1 MHz of the recording's centre the band is shifted digitally, after
// resampling, so a station appears where a dongle tuned there would put it and a retune
// takes effect at the next buffer rather than one filter delay later; farther away the
// buffers carry only low-level noise around 127.5, as from an empty band. With no known
// centre, the first tuned frequency becomes the centre. Manual tuner gain scales the replay
// mildly (a quarter of its dB value about the 0 dB reference, so 22 dB gives +5.5 dB); AGC
// replays unscaled.
//
// Failures are statuses, never exceptions: open returns a negative status and lastError()
// says why. A cancelAsync that arrives before readAsync starts makes that readAsync return at
// once. Thread-safe: control calls may come from any thread while readAsync runs; close waits
// for a running readAsync to return.
class FileRtlSdrApi final : public RtlSdrApi {
public:
    static constexpr std::uint32_t kDefaultSampleRateHz = 2'048'000;
    static constexpr double kTuningRangeHz = 1'000'000.0;
    static constexpr double kEmptyBandNoiseLSB = 2.0;      // rms per component, in byte steps
    static constexpr double kGainFraction = 0.25;          // of the manual gain's dB value
    static constexpr std::uint32_t kDefaultBufferBytes = 262'144;  // librtlsdr's for length 0
    static constexpr int kErrorBusy = -1;
    static constexpr int kErrorBadRecording = -2;
    static constexpr int kErrorNotOpen = -3;
    static constexpr int kErrorReadFailed = -4;
    static constexpr int kErrorBadSampleRate = -5;

    explicit FileRtlSdrApi(FileRtlSdrOptions options);
    ~FileRtlSdrApi() override;
    FileRtlSdrApi(const FileRtlSdrApi&) = delete;
    FileRtlSdrApi& operator=(const FileRtlSdrApi&) = delete;

    // Why the recording cannot be used, e.g. "cannot read recording /x.cu8: No such file or
    // directory"; empty while all is well. Already set after construction.
    std::string lastError() const override;

    // 1 when the recording can be opened, else 0 (lastError says why).
    std::uint32_t getDeviceCount() override;
    int open(Handle* handle, std::uint32_t index) override;
    int close(Handle handle) override;
    // Refuses what librtlsdr refuses: rates outside 225,001–300,000 and 900,001–3,200,000.
    int setSampleRate(Handle handle, std::uint32_t rateHz) override;
    int setCenterFreq(Handle handle, std::uint32_t frequencyHz) override;
    int setTunerGainMode(Handle handle, int manual) override;
    int setTunerGain(Handle handle, int tenthsDB) override;
    int setAgcMode(Handle handle, int on) override;
    int setFreqCorrection(Handle handle, int ppm) override;
    int resetBuffer(Handle handle) override;
    int readAsync(Handle handle, ReadCallback callback, void* context, std::uint32_t bufferCount,
                  std::uint32_t bufferLength) override;
    int cancelAsync(Handle handle) override;
    bool canWaitForReader() const override { return true; }

private:
    // Settings read once per buffer.
    struct Snapshot {
        std::optional<double> shiftHz;  // tuned minus recording centre; absent: empty band
        double gain = 1.0;              // linear amplitude factor
        double sampleRateHz = kDefaultSampleRateHz;
    };
    bool isValid(Handle handle) const {
        return deviceOpen && handle == static_cast<const void*>(this);
    }
    Snapshot snapshot() const;

    const FileRtlSdrOptions options;

    mutable std::mutex lock;
    std::condition_variable wake;  // cancel, close and the end of readAsync
    std::string error;
    std::unique_ptr<FileIQRecording> recording;  // used without the lock by the running read
    bool deviceOpen = false;
    bool reading = false;
    bool cancelRequested = false;
    std::thread::id readerThread;
    std::optional<double> recordingCenterHz;
    std::optional<std::uint32_t> tunedHz;
    std::uint32_t sampleRateHz = kDefaultSampleRateHz;
    bool manualGain = false;
    int gainTenthsDB = 0;
};
