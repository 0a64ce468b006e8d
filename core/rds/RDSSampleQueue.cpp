#include "rds/RDSSampleQueue.h"

#include <cassert>
#include <utility>

RDSSampleQueue::RDSSampleQueue(std::size_t maxQueuedBlocks, OverflowPolicy overflow)
    : maxQueued(maxQueuedBlocks), policy(overflow), slots(maxQueuedBlocks) {
    assert(maxQueued > 0);
}

void RDSSampleQueue::push(std::span<const float> block) {
    std::unique_lock guard(lock);
    if (policy == OverflowPolicy::waitForReader)
        roomMade.wait(guard, [this] { return closed || count < maxQueued; });
    if (closed) return;
    if (count == maxQueued) {
        head = (head + 1) % maxQueued;
        --count;
        ++dropped;
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
    {
        std::lock_guard guard(lock);
        if (count == 0) return false;
        std::swap(out, slots[head]);
        head = (head + 1) % maxQueued;
        --count;
    }
    if (policy == OverflowPolicy::waitForReader) roomMade.notify_all();
    return true;
}

void RDSSampleQueue::clear() {
    {
        std::lock_guard guard(lock);
        head = 0;
        count = 0;
    }
    roomMade.notify_all();
}

void RDSSampleQueue::close() {
    {
        std::lock_guard guard(lock);
        closed = true;
    }
    roomMade.notify_all();
}

std::size_t RDSSampleQueue::size() {
    std::lock_guard guard(lock);
    return count;
}

std::uint64_t RDSSampleQueue::droppedBlocks() {
    std::lock_guard guard(lock);
    return dropped;
}
