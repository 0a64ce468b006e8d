#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "device/IQSample.h"

// The drop-oldest ring arithmetic shared by IQBuffer and IQChunkQueue. The caller holds its
// lock. Both functions give exactly the indices, count and overwrite total of writing or
// reading one sample at a time, but copy in at most two contiguous segments.
struct IQRingState {
    std::int64_t capacity = 1;
    std::int64_t writeIndex = 0;  // slot of the next written sample
    std::int64_t readIndex = 0;   // slot of the oldest unread sample
    // Unread samples, 0..capacity; always writeIndex == (readIndex + count) % capacity.
    std::int64_t count = 0;
};

// Appends `in`; returns how many unread samples were overwritten.
inline std::int64_t iqRingWrite(IQRingState& ring, IQSample* storage,
                                std::span<const IQSample> in) {
    const auto n = static_cast<std::int64_t>(in.size());
    if (n == 0) return 0;
    const std::int64_t cap = ring.capacity;
    // Only the last `capacity` samples survive; they end just before the final write slot.
    const std::int64_t kept = std::min(n, cap);
    const std::int64_t finalWrite = (ring.writeIndex + n % cap) % cap;
    const std::int64_t start = (finalWrite - kept + cap) % cap;
    const IQSample* src = in.data() + (n - kept);
    const std::int64_t first = std::min(kept, cap - start);
    std::copy_n(src, first, storage + start);
    std::copy_n(src + first, kept - first, storage);

    const std::int64_t total = ring.count + n;  // no overflow: both are far below 2^62
    const std::int64_t newCount = std::min(total, cap);
    const std::int64_t overwritten = total - newCount;
    ring.writeIndex = finalWrite;
    ring.readIndex = (ring.readIndex + overwritten % cap) % cap;
    ring.count = newCount;
    return overwritten;
}

// Removes up to out.size() of the oldest unread samples into `out`; returns how many.
inline std::size_t iqRingRead(IQRingState& ring, const IQSample* storage,
                              std::span<IQSample> out) {
    const std::int64_t n = std::min(ring.count, static_cast<std::int64_t>(out.size()));
    if (n < 1) return 0;
    const std::int64_t cap = ring.capacity;
    const std::int64_t first = std::min(n, cap - ring.readIndex);
    std::copy_n(storage + ring.readIndex, first, out.data());
    std::copy_n(storage, n - first, out.data() + first);
    ring.readIndex = (ring.readIndex + n) % cap;
    ring.count -= n;
    return static_cast<std::size_t>(n);
}
