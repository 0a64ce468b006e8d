#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

// Collects every stereo frame a sink renders, for tests and for the CLI's WAV output. Shared
// (std::shared_ptr) so that it outlives the sinks that feed it across receiver restarts.
// Thread-safe: the sink's thread appends, any thread reads.
class AudioTee {
public:
    struct Capture {
        std::vector<float> left;
        std::vector<float> right;
        bool operator==(const Capture&) const = default;
    };

    void append(std::span<const float> left, std::span<const float> right);
    // Copy of everything captured since the last drain.
    Capture snapshot() const;
    // Everything captured since the last drain; the tee starts empty again.
    Capture drain();
    // Frames appended over the tee's life (drains do not reset it).
    std::uint64_t totalFrames() const;
    // Blocks until totalFrames() >= frames or the timeout passes; true when reached.
    bool waitForFrames(std::uint64_t frames, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex;
    mutable std::condition_variable grown;
    Capture captured;
    std::uint64_t framesSeen = 0;
};
