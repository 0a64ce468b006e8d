#pragma once

#include <cstdint>
#include <vector>

#include "device/IQSample.h"

// The drop-oldest ring written the slow, obvious way, one sample at a time: the yardstick the
// block-copying rings are checked against.
struct IQRingReference {
    explicit IQRingReference(std::int64_t capacity)
        : capacity(capacity), storage(static_cast<std::size_t>(capacity)) {}

    void write(const std::vector<IQSample>& in) {
        for (const IQSample& s : in) {
            storage[static_cast<std::size_t>(writeIndex)] = s;
            writeIndex = (writeIndex + 1) % capacity;
            if (count < capacity) {
                ++count;
            } else {
                readIndex = (readIndex + 1) % capacity;
                ++dropped;
            }
        }
    }

    std::vector<IQSample> read(std::int64_t maxCount) {
        std::vector<IQSample> out;
        const std::int64_t n = count < maxCount ? count : maxCount;
        for (std::int64_t k = 0; k < n; ++k) {
            out.push_back(storage[static_cast<std::size_t>(readIndex)]);
            readIndex = (readIndex + 1) % capacity;
        }
        if (n > 0) count -= n;
        return out;
    }

    std::int64_t capacity;
    std::int64_t writeIndex = 0;
    std::int64_t readIndex = 0;
    std::int64_t count = 0;
    std::int64_t dropped = 0;
    std::vector<IQSample> storage;
};

// Samples numbered from `first`, so order and identity survive the ring (exact below 2^24).
inline std::vector<IQSample> numberedSamples(std::int64_t first, std::int64_t count) {
    std::vector<IQSample> out(static_cast<std::size_t>(count));
    for (std::int64_t k = 0; k < count; ++k)
        out[static_cast<std::size_t>(k)] = {static_cast<float>(first + k),
                                            -static_cast<float>(first + k)};
    return out;
}
