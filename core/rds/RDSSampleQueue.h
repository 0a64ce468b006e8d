#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// Bounded queue of sample blocks from the DSP thread to a decoder thread (RDS at
// 2,048,000 samples/s, APRS at 51,200). Holds at most `maxQueued` blocks; pushing onto a full
// queue drops the oldest, so the producer never waits for more than the lock.
//
// Thread-safe: one mutex, held only inside each operation. Blocks live in a ring of reusable
// buffers, and pop(out) swaps the caller's buffer in, so steady use does not allocate.
class RDSSampleQueue {
public:
    explicit RDSSampleQueue(std::size_t maxQueued = 20);
    RDSSampleQueue(const RDSSampleQueue&) = delete;
    RDSSampleQueue& operator=(const RDSSampleQueue&) = delete;

    void push(std::span<const float> block);
    // The oldest block, or none when empty.
    std::optional<std::vector<float>> pop();
    // Allocation-free form: the oldest block is swapped into `out`; false when empty (then
    // `out` is left as it was).
    bool pop(std::vector<float>& out);
    void clear();
    std::size_t size();

    const std::size_t maxQueued;

private:
    std::vector<std::vector<float>> slots;  // ring of maxQueued buffers
    std::size_t head = 0;                   // oldest block
    std::size_t count = 0;
    std::mutex lock;
};
