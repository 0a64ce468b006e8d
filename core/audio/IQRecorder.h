#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <span>
#include <vector>

#include "device/IQSample.h"
#include "platform/SerialQueue.h"

// What the SigMF sidecar of an IQ recording says about it.
struct IQRecordingInfo {
    double centerFrequencyHz = 0.0;  // the tuner's centre, not the listened frequency
    double sampleRateHz = 2'048'000.0;
    std::chrono::system_clock::time_point startTime;
    bool operator==(const IQRecordingInfo&) const = default;
};

// Records raw IQ as a headerless ".cf32" file: interleaved little-endian float32 (i, q), 8
// bytes per sample, full scale +-1. Beside it goes a SigMF 1.0.0 metadata file
// ("<stem>.sigmf-meta", written at open) describing type, rate, centre frequency and start.
//
// write() only copies the block (the caller may reuse its buffer at once) and queues the disk
// write on the recorder's own serial I/O queue, so the DSP thread never waits for the disk.
// close() drains the queue, then closes: no queued block is lost. If the disk falls more than
// kMaxPendingBytes behind, further blocks are dropped and counted rather than piling up in
// memory. An open failure leaves a recorder that writes nothing.
//
// Thread safety: write() and close() may be called from different threads; a write that
// starts after close() began does nothing.
class IQRecorder {
public:
    static constexpr std::size_t kMaxPendingBytes = 256u << 20;  // ~16 s at 2,048,000 samples/s

    IQRecorder(const std::filesystem::path& path, const IQRecordingInfo& info);
    ~IQRecorder();  // closes
    IQRecorder(const IQRecorder&) = delete;
    IQRecorder& operator=(const IQRecorder&) = delete;

    void write(std::span<const IQSample> samples);
    // Waits for every queued write, then closes the file. Idempotent.
    void close();

    bool isOpen() const;
    // The data file could not be opened or a write fell short (the file is incomplete).
    bool hasFailed() const { return failed.load(std::memory_order_relaxed); }
    // Samples on disk so far (exact after close()).
    std::uint64_t samplesWritten() const { return written.load(std::memory_order_relaxed); }
    // Samples dropped because the disk fell too far behind.
    std::uint64_t samplesDropped() const { return dropped.load(std::memory_order_relaxed); }

private:
    struct FileCloser {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };
    using Block = std::vector<IQSample>;

    void writeBlock(Block block);  // on ioQueue
    Block takeSpareBlock();

    mutable std::mutex mutex;  // orders write() against close()
    std::unique_ptr<std::FILE, FileCloser> fileHandle;
    bool closing = false;
    std::atomic<bool> failed{false};
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::size_t> pendingBytes{0};
    std::mutex spareMutex;
    std::vector<Block> spareBlocks;  // written blocks kept for reuse
    SerialQueue ioQueue;             // last: drained and joined before the rest goes away
};

// The SigMF 1.0.0 metadata object for a cf32 recording named `dataFileName`.
nlohmann::json makeSigMFMetadata(const IQRecordingInfo& info, const std::string& dataFileName);
// ISO 8601 UTC with milliseconds, e.g. "2024-05-01T10:15:30.250Z" (SigMF core:datetime).
std::string iso8601UTC(std::chrono::system_clock::time_point time);
