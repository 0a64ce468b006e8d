#include "device/IQChunkQueue.h"

#include <algorithm>
#include <new>

#include "platform/DebugLog.h"

IQChunkQueue::IQChunkQueue() : IQChunkQueue(kCapacity) {}

IQChunkQueue::IQChunkQueue(std::int64_t capacity) {
    std::int64_t cap = std::max<std::int64_t>(capacity, 1);
    for (;;) {
        storage.reset(static_cast<IQSample*>(
            std::calloc(static_cast<std::size_t>(cap), sizeof(IQSample))));
        if (storage) break;
        if (cap <= kMinimumCapacity) throw std::bad_alloc();
        cap = std::max(cap / 2, kMinimumCapacity);
        DebugLog::writef("⚠️ IQChunkQueue: storage refused, trying %lld samples",
                         static_cast<long long>(cap));
    }
    ring.capacity = cap;
}

void IQChunkQueue::push(std::span<const IQSample> samples) {
    if (samples.empty()) return;
    std::lock_guard guard(lock);
    droppedSamples += iqRingWrite(ring, storage.get(), samples);
}

std::vector<IQSample> IQChunkQueue::pop(std::int64_t maxCount) {
    std::lock_guard guard(lock);
    const std::int64_t n = std::min(ring.count, maxCount);
    if (n < 1) return {};
    std::vector<IQSample> out(static_cast<std::size_t>(n));
    iqRingRead(ring, storage.get(), out);
    return out;
}

std::size_t IQChunkQueue::pop(std::span<IQSample> out) {
    std::lock_guard guard(lock);
    return iqRingRead(ring, storage.get(), out);
}

void IQChunkQueue::clear() {
    std::lock_guard guard(lock);
    ring.writeIndex = 0;
    ring.readIndex = 0;
    ring.count = 0;
}

std::int64_t IQChunkQueue::available() const {
    std::lock_guard guard(lock);
    return ring.count;
}

std::int64_t IQChunkQueue::readIndex() const {
    std::lock_guard guard(lock);
    return ring.readIndex;
}

std::int64_t IQChunkQueue::writeIndex() const {
    std::lock_guard guard(lock);
    return ring.writeIndex;
}

std::int64_t IQChunkQueue::dropped() const {
    std::lock_guard guard(lock);
    return droppedSamples;
}
