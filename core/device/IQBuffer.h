#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "device/IQRingOps.h"
#include "device/IQSample.h"

// The main IQ ring between the dongle's reader thread and whichever loop owns the stream.
// Drop-oldest: writes never block or fail; when full, each new sample overwrites the oldest
// unread one. Storage is allocated and zeroed at construction and never grows.
// Thread-safe: one mutex, held only inside each operation.
class IQBuffer {
public:
    // capacity in samples; values below 1 are raised to 1.
    explicit IQBuffer(std::int64_t capacity);
    IQBuffer(const IQBuffer&) = delete;
    IQBuffer& operator=(const IQBuffer&) = delete;

    void write(std::span<const IQSample> samples);
    // Removes and returns up to maxCount of the oldest unread samples, oldest first; empty when
    // nothing is unread or maxCount < 1. Never waits.
    std::vector<IQSample> read(std::int64_t maxCount);
    // Allocation-free form: fills the front of `out`, returns the number of samples taken.
    std::size_t read(std::span<IQSample> out);
    // Forgets unread samples; the next write starts at slot 0. Storage is not zeroed.
    void clear();
    std::int64_t available() const;

    std::int64_t capacity() const { return ring.capacity; }
    // Samples written since construction, read without the lock (for rate displays).
    std::uint64_t totalWritten() const { return written.load(std::memory_order_relaxed); }
    std::int64_t readIndex() const;
    std::int64_t writeIndex() const;

private:
    mutable std::mutex lock;
    IQRingState ring;  // capacity is fixed at construction
    std::vector<IQSample> storage;
    std::atomic<std::uint64_t> written{0};
};
