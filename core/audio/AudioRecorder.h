#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

struct sf_private_tag;  // libsndfile's SNDFILE; its header stays out of the users of this class

// Writes a 16-bit PCM WAV file through libsndfile: the canonical 44-byte header (RIFF/WAVE,
// a 16-byte "fmt " chunk, "data"), samples streamed as they come, the RIFF and data sizes
// written at close. A file never closed declares no data.
//
// Every frame holds exactly `channels` samples so that header and data agree: a mono file
// given a right channel records the down-mix (L + R) / 2; a stereo file given no (or a short)
// right channel repeats left in its place. The data stops growing at maxDataBytes (whole
// frames), so the 32-bit size fields cannot overflow; later writes are dropped.
// An open failure leaves a recorder that writes nothing (isOpen() false); after a failed
// write (disk full) nothing more is written and the header describes what made it to disk.
//
// Thread safety: write() and close() may be called from different threads; they never
// overlap. write() does the file I/O on the caller's thread.
class AudioRecorder {
public:
    // 2^32 - 1 - 36: the RIFF size field (data + 36) must still fit in 32 bits.
    static constexpr std::uint32_t kMaxDataBytes = 0xFFFF'FFFFu - 36u;

    // Creates (or replaces) the file. channels is 1 or 2.
    AudioRecorder(const std::filesystem::path& path, double sampleRateHz, int channels,
                  std::uint32_t maxDataBytes = kMaxDataBytes);
    ~AudioRecorder();  // closes
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    // Appends one frame per left sample.
    void write(std::span<const float> left,
               std::optional<std::span<const float>> right = std::nullopt);
    // Patches the header and closes the file; further writes do nothing. Idempotent.
    void close();

    bool isOpen() const;
    // An open or write failure happened (the file is then incomplete).
    bool hasFailed() const;
    // The size limit was reached and samples were dropped.
    bool isFull() const;
    std::uint32_t dataByteCount() const;
    double sampleRate() const { return sampleRateHz; }
    int channels() const { return channelCount; }

private:
    struct SndfileCloser {
        void operator()(sf_private_tag* file) const noexcept;
    };

    mutable std::mutex mutex;
    std::unique_ptr<sf_private_tag, SndfileCloser> fileHandle;
    const double sampleRateHz;
    const int channelCount;
    std::uint32_t dataBytes = 0;
    std::uint32_t dataByteLimit;  // maxDataBytes rounded down to whole frames
    bool failed = false;
    bool full = false;
    std::vector<std::int16_t> scratch;  // one write's samples, interleaved, reused
};

// Float sample to 16-bit PCM: v >= 1 gives 32767, otherwise max(v, -1) * 32767 truncated
// toward zero (so -32768 never occurs); NaN gives 0.
std::int16_t pcm16FromFloat(float v);
