#include "rds/RDSSampleQueue.h"

#include <cassert>
#include <utility>

RDSSampleQueue::RDSSampleQueue(std::size_t maxQueuedBlocks)
    : maxQueued(maxQueuedBlocks), slots(maxQueuedBlocks) {
    assert(maxQueued > 0);
}

void RDSSampleQueue::push(std::span<const float> block) {
    std::lock_guard guard(lock);
    if (count == maxQueued) {
        head = (head + 1) % maxQueued;
        --count;
    }
    slots[(head + count) % maxQueued].assign(block.begin(), block.end());
    ++count;
}

std::optional<std::vector<float>> RDSSampleQueue::pop() {
    std::vector<float> out;
    if (!pop(out)) return std::nullopt;
    return out;
}

bool RDSSampleQueue::pop(std::vector<float>& out) {
    std::lock_guard guard(lock);
    if (count == 0) return false;
    std::swap(out, slots[head]);
    head = (head + 1) % maxQueued;
    --count;
    return true;
}

void RDSSampleQueue::clear() {
    std::lock_guard guard(lock);
    head = 0;
    count = 0;
}

std::size_t RDSSampleQueue::size() {
    std::lock_guard guard(lock);
    return count;
}
