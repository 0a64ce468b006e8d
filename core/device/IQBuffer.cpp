#include "device/IQBuffer.h"

#include <algorithm>

IQBuffer::IQBuffer(std::int64_t capacity)
    : ring{.capacity = std::max<std::int64_t>(capacity, 1)},
      storage(static_cast<std::size_t>(ring.capacity)) {}

void IQBuffer::write(std::span<const IQSample> samples) {
    {
        std::lock_guard guard(lock);
        iqRingWrite(ring, storage.data(), samples);
    }
    written.fetch_add(samples.size(), std::memory_order_relaxed);
}

std::vector<IQSample> IQBuffer::read(std::int64_t maxCount) {
    std::lock_guard guard(lock);
    const std::int64_t n = std::min(ring.count, maxCount);
    if (n < 1) return {};
    std::vector<IQSample> out(static_cast<std::size_t>(n));
    iqRingRead(ring, storage.data(), out);
    return out;
}

std::size_t IQBuffer::read(std::span<IQSample> out) {
    std::lock_guard guard(lock);
    return iqRingRead(ring, storage.data(), out);
}

void IQBuffer::clear() {
    std::lock_guard guard(lock);
    ring.writeIndex = 0;
    ring.readIndex = 0;
    ring.count = 0;
}

std::int64_t IQBuffer::available() const {
    std::lock_guard guard(lock);
    return ring.count;
}

std::int64_t IQBuffer::readIndex() const {
    std::lock_guard guard(lock);
    return ring.readIndex;
}

std::int64_t IQBuffer::writeIndex() const {
    std::lock_guard guard(lock);
    return ring.writeIndex;
}
