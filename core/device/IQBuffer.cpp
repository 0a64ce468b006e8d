#include "device/IQBuffer.h"

#include <algorithm>

IQBuffer::IQBuffer(std::int64_t capacity, OverflowPolicy policy)
    : policy(policy),
      ring{.capacity = std::max<std::int64_t>(capacity, 1)},
      storage(static_cast<std::size_t>(ring.capacity)) {}

void IQBuffer::write(std::span<const IQSample> samples) {
    if (policy == OverflowPolicy::waitForReader) {
        writeWaiting(samples);
        return;
    }
    std::int64_t overwritten = 0;
    {
        std::lock_guard guard(lock);
        if (closed) return;
        overwritten = iqRingWrite(ring, storage.data(), samples);
    }
    written.fetch_add(samples.size(), std::memory_order_relaxed);
    if (overwritten > 0)
        dropped.fetch_add(static_cast<std::uint64_t>(overwritten), std::memory_order_relaxed);
}

void IQBuffer::writeWaiting(std::span<const IQSample> samples) {
    std::unique_lock guard(lock);
    const std::uint64_t clearsBefore = clears;
    while (!samples.empty()) {
        roomMade.wait(guard, [this] { return closed || ring.count < ring.capacity; });
        if (closed || clears != clearsBefore) return;
        const std::size_t room = static_cast<std::size_t>(ring.capacity - ring.count);
        const std::size_t n = std::min(room, samples.size());
        iqRingWrite(ring, storage.data(), samples.first(n));  // fits: overwrites nothing
        written.fetch_add(n, std::memory_order_relaxed);
        samples = samples.subspan(n);
    }
}

void IQBuffer::afterRead(std::size_t n) {
    if (n == 0) return;
    taken.fetch_add(n, std::memory_order_relaxed);
    if (policy == OverflowPolicy::waitForReader) roomMade.notify_all();
}

std::vector<IQSample> IQBuffer::read(std::int64_t maxCount) {
    std::vector<IQSample> out;
    {
        std::lock_guard guard(lock);
        const std::int64_t n = std::min(ring.count, maxCount);
        if (n < 1) return {};
        out.resize(static_cast<std::size_t>(n));
        iqRingRead(ring, storage.data(), out);
    }
    afterRead(out.size());
    return out;
}

std::size_t IQBuffer::read(std::span<IQSample> out) {
    std::size_t n = 0;
    {
        std::lock_guard guard(lock);
        n = iqRingRead(ring, storage.data(), out);
    }
    afterRead(n);
    return n;
}

void IQBuffer::clear() {
    {
        std::lock_guard guard(lock);
        ring.writeIndex = 0;
        ring.readIndex = 0;
        ring.count = 0;
        ++clears;
    }
    roomMade.notify_all();
}

void IQBuffer::close() {
    {
        std::lock_guard guard(lock);
        closed = true;
    }
    roomMade.notify_all();
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
