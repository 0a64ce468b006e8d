#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/OverflowPolicy.h"

// Bounded queue of sample blocks from the DSP thread to a decoder thread (RDS at
// 2,048,000 samples/s, APRS at 51,200). Holds at most `maxQueued` blocks. When full, a push
// with dropOldest (live dongle) drops the oldest block, so the producer never waits for more
// than the lock; with waitForReader (a recording) it waits until a pop makes room, so the
// decoder sees every block. close() ends that waiting for good (the owner calls it before it
// stops the decoder thread); later pushes are discarded.
//
// Thread-safe: one mutex, held only inside each operation (a waiting push releases it).
// Blocks live in a ring of reusable buffers, and pop(out) swaps the caller's buffer in, so
// steady use does not allocate.
class RDSSampleQueue {
public:
    explicit RDSSampleQueue(std::size_t maxQueued = 20,
                            OverflowPolicy policy = OverflowPolicy::dropOldest);
    RDSSampleQueue(const RDSSampleQueue&) = delete;
    RDSSampleQueue& operator=(const RDSSampleQueue&) = delete;

    void push(std::span<const float> block);
    // The oldest block, or none when empty.
    std::optional<std::vector<float>> pop();
    // Allocation-free form: the oldest block is swapped into `out`; false when empty (then
    // `out` is left as it was).
    bool pop(std::vector<float>& out);
    void clear();
    // Wakes and releases a waiting push; later pushes are discarded. Idempotent.
    void close();
    std::size_t size();
    // Blocks pushed out by newer ones (dropOldest only).
    std::uint64_t droppedBlocks();

    const std::size_t maxQueued;
    const OverflowPolicy policy;

private:
    std::vector<std::vector<float>> slots;  // ring of maxQueued buffers
    std::size_t head = 0;                   // oldest block
    std::size_t count = 0;
    std::uint64_t dropped = 0;
    bool closed = false;
    std::mutex lock;
    std::condition_variable roomMade;  // waitForReader: a pop, clear or close happened
};
