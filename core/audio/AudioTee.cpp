#include "audio/AudioTee.h"

#include <cassert>

void AudioTee::append(std::span<const float> left, std::span<const float> right) {
    assert(left.size() == right.size());
    {
        std::lock_guard lock(mutex);
        captured.left.insert(captured.left.end(), left.begin(), left.end());
        captured.right.insert(captured.right.end(), right.begin(), right.end());
        framesSeen += left.size();
    }
    grown.notify_all();
}

AudioTee::Capture AudioTee::snapshot() const {
    std::lock_guard lock(mutex);
    return captured;
}

AudioTee::Capture AudioTee::drain() {
    std::lock_guard lock(mutex);
    Capture out = std::move(captured);
    captured = {};
    return out;
}

std::uint64_t AudioTee::totalFrames() const {
    std::lock_guard lock(mutex);
    return framesSeen;
}

bool AudioTee::waitForFrames(std::uint64_t frames, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex);
    return grown.wait_for(lock, timeout, [&] { return framesSeen >= frames; });
}
