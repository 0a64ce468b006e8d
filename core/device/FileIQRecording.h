#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/IQSample.h"

enum class FileIQFormat {
    cu8,   // rtl_sdr's raw output: unsigned 8-bit interleaved I/Q, (byte - 127.5) / 127.5
    cs16,  // signed little-endian 16-bit interleaved I/Q, value / 32768
    cf32,  // interleaved little-endian float32 I/Q, as the IQ recorder writes
};

struct FileIQRecordingInfo {
    FileIQFormat format = FileIQFormat::cu8;
    double sampleRateHz = 2'048'000.0;  // the user's, else the sidecar's, else the system's rate
    std::optional<double> centerFrequencyHz;  // only from a sidecar
    // Complete I/Q pairs. A partial last sample of cu8 or cs16 (a recorder stopped mid-write)
    // is ignored.
    std::uint64_t sampleCount = 0;
    bool operator==(const FileIQRecordingInfo&) const = default;
};

// An IQ recording opened for looping replay. The format comes from the extension (.cu8, and
// .bin or .raw as rtl_sdr writes them; .cs16; .cf32) unless a SigMF sidecar <stem>.sigmf-meta
// exists: then its core:datatype ("cu8", "ci16_le" or "cf32_le"), core:sample_rate and first
// capture's core:frequency rule (SigMF 1.0, global object and captures array). A sample rate
// the user gives overrides the sidecar's: sidecars written by hand or by other tools can be
// wrong, and a raw file has none. Reads stream from the file; nothing is held in memory beyond
// one scratch block. One reader at a time.
class FileIQRecording {
public:
    // Sample rates outside this range are refused. 8 kHz is the lowest any baseband recorder
    // offers, so less is a unit slip (2048 meant as kHz); above 100 MS/s neither disk nor
    // resampler keeps up with a real-time replay.
    static constexpr double kMinSampleRateHz = 8'000.0;
    static constexpr double kMaxSampleRateHz = 100'000'000.0;

    // nullptr, with `error` set to a human text, when the recording is missing, unreadable,
    // empty, of unknown format, not a whole number of samples, its sidecar is malformed, or
    // its sample rate (`sampleRateHz` when given, else the sidecar's) is out of range.
    static std::unique_ptr<FileIQRecording> open(const std::filesystem::path& path,
                                                 std::string& error,
                                                 std::optional<double> sampleRateHz = {});
    FileIQRecording(const FileIQRecording&) = delete;
    FileIQRecording& operator=(const FileIQRecording&) = delete;

    const FileIQRecordingInfo& info() const { return recordingInfo; }
    // Fills `out` with the next samples in -1..+1 (cu8 scaled as the dongle's bytes), starting
    // over at the end of the file, so the stream runs on without a gap or a repeated sample.
    // False if the file can no longer be read (it shrank).
    bool readLooping(std::span<IQSample> out);

private:
    struct FileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

    FileIQRecording(FileHandle file, FileIQRecordingInfo info);

    FileHandle file;
    FileIQRecordingInfo recordingInfo;
    std::uint64_t positionSamples = 0;
    std::vector<std::uint8_t> raw;  // cu8 and cs16 scratch
};
