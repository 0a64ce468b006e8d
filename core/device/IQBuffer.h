#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "device/IQRingOps.h"
#include "device/IQSample.h"
#include "platform/OverflowPolicy.h"

// The main IQ ring between the dongle's reader thread and whichever loop owns the stream.
// Storage is allocated and zeroed at construction and never grows.
//
// Overflow: with dropOldest (the live dongle) writes never block or fail; when full, each new
// sample overwrites the oldest unread one and is counted in droppedSamples(). With
// waitForReader (a recording) a write stores what fits and waits for readers to make room
// for the rest, so every sample written is read. close() ends all waiting for good: the
// owner calls it before it stops the readers, so a writer blocked on a full ring cannot hold
// up shutdown; from then on writes store nothing.
//
// Thread-safe: one mutex, held only inside each operation (a waiting writer releases it).
class IQBuffer {
public:
    // capacity in samples; values below 1 are raised to 1.
    explicit IQBuffer(std::int64_t capacity, OverflowPolicy policy = OverflowPolicy::dropOldest);
    IQBuffer(const IQBuffer&) = delete;
    IQBuffer& operator=(const IQBuffer&) = delete;

    void write(std::span<const IQSample> samples);
    // Removes and returns up to maxCount of the oldest unread samples, oldest first; empty when
    // nothing is unread or maxCount < 1. Never waits.
    std::vector<IQSample> read(std::int64_t maxCount);
    // Allocation-free form: fills the front of `out`, returns the number of samples taken.
    std::size_t read(std::span<IQSample> out);
    // Forgets unread samples (not counted as dropped: the owner discards them on purpose, as
    // after a retune), including the rest of a write waiting for room, which came from the
    // source before the clear too; the next write starts at slot 0. Storage is not zeroed.
    void clear();
    // Wakes and releases a waiting writer; later writes are discarded. Idempotent.
    void close();
    std::int64_t available() const;

    std::int64_t capacity() const { return ring.capacity; }
    OverflowPolicy overflowPolicy() const { return policy; }
    // Counters since construction, read without the lock (for rate and loss displays).
    // Samples stored by write (with dropOldest, also those later overwritten).
    std::uint64_t totalWritten() const { return written.load(std::memory_order_relaxed); }
    // Samples handed out by read.
    std::uint64_t totalRead() const { return taken.load(std::memory_order_relaxed); }
    // Unread samples overwritten by newer ones (dropOldest only).
    std::uint64_t droppedSamples() const { return dropped.load(std::memory_order_relaxed); }
    std::int64_t readIndex() const;
    std::int64_t writeIndex() const;

private:
    void writeWaiting(std::span<const IQSample> samples);
    void afterRead(std::size_t n);

    const OverflowPolicy policy;
    mutable std::mutex lock;
    std::condition_variable roomMade;  // waitForReader: a read, clear or close happened
    IQRingState ring;                  // capacity is fixed at construction
    bool closed = false;
    std::uint64_t clears = 0;  // lets a waiting write see that a clear happened meanwhile
    std::vector<IQSample> storage;
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> taken{0};
    std::atomic<std::uint64_t> dropped{0};
};
