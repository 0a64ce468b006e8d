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
    cu8,   // rtl_sdr's raw output: unsigned 8-bit interleaved I/Q
    cf32,  // interleaved little-endian float32 I/Q, as the IQ recorder writes
};

struct FileIQRecordingInfo {
    FileIQFormat format = FileIQFormat::cu8;
    double sampleRateHz = 2'048'000.0;       // the system's rate unless a sidecar says otherwise
    std::optional<double> centerFrequencyHz;  // only from a sidecar
    std::uint64_t sampleCount = 0;           // complete I/Q pairs; a cu8 odd last byte is ignored
    bool operator==(const FileIQRecordingInfo&) const = default;
};

// An IQ recording opened for looping replay. The format comes from the extension (.cu8,
// .cf32) unless a SigMF sidecar <stem>.sigmf-meta exists: then its core:sample_rate,
// core:datatype ("cu8" or "cf32_le") and first capture's core:frequency rule (SigMF 1.0,
// global object and captures array). Reads stream from the file; nothing is held in memory
// beyond one scratch block. One reader at a time.
class FileIQRecording {
public:
    // nullptr, with `error` set to a human text, when the recording is missing, unreadable,
    // empty, of unknown format, not a whole number of samples, or its sidecar is malformed.
    static std::unique_ptr<FileIQRecording> open(const std::filesystem::path& path,
                                                 std::string& error);
    FileIQRecording(const FileIQRecording&) = delete;
    FileIQRecording& operator=(const FileIQRecording&) = delete;

    const FileIQRecordingInfo& info() const { return recordingInfo; }
    // Fills `out` with the next samples in -1..+1 (cu8 scaled as the dongle's bytes), starting
    // over at the end of the file. False if the file can no longer be read (it shrank).
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
    std::vector<std::uint8_t> raw;  // cu8 scratch
};
