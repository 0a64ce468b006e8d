#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "device/IQRingOps.h"
#include "device/IQSample.h"

// The large drop-oldest ring between the DAB pump thread and the DAB demodulator: 160,000,000
// samples (about 78 s at 2,048,000 samples/s, 1.28 GB). Storage comes from calloc, whose
// large blocks are fresh zero pages from the kernel, so only pages that samples actually
// reach are ever committed. If the full size cannot be reserved the capacity is halved until
// it can (never below kMinimumCapacity; below that the constructor throws std::bad_alloc).
// Thread-safe: one mutex, held only inside each operation.
class IQChunkQueue {
public:
    static constexpr std::int64_t kCapacity = 160'000'000;
    static constexpr std::int64_t kMinimumCapacity = 1 << 20;

    IQChunkQueue();
    // For tests that need to reach wrap-around; values below 1 are raised to 1.
    explicit IQChunkQueue(std::int64_t capacity);
    IQChunkQueue(const IQChunkQueue&) = delete;
    IQChunkQueue& operator=(const IQChunkQueue&) = delete;

    // Returns at once, without locking, for an empty span. Overwritten samples add to dropped().
    void push(std::span<const IQSample> samples);
    // Removes and returns up to maxCount of the oldest samples; empty if none or maxCount < 1.
    std::vector<IQSample> pop(std::int64_t maxCount);
    // Allocation-free form: fills the front of `out`, returns the number of samples taken.
    std::size_t pop(std::span<IQSample> out);
    void clear();
    std::int64_t available() const;

    std::int64_t capacity() const { return ring.capacity; }
    std::int64_t readIndex() const;
    std::int64_t writeIndex() const;
    // Samples lost to overflow since construction (diagnostic only; clear() keeps it).
    std::int64_t dropped() const;

private:
    struct FreeDeleter {
        void operator()(IQSample* p) const noexcept { std::free(p); }
    };

    mutable std::mutex lock;
    IQRingState ring;  // capacity is fixed at construction
    std::unique_ptr<IQSample, FreeDeleter> storage;
    std::int64_t droppedSamples = 0;
};
