#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "audio/AudioSink.h"
#include "audio/AudioTee.h"

struct NullAudioSinkConfig {
    double sampleRateHz = 51'200.0;
    // N times real time, to match a simulated dongle run at the same factor.
    double speedFactor = 1.0;
    std::chrono::microseconds period{10'000};
    // When set, every rendered frame (after the output volume) is appended to it.
    std::shared_ptr<AudioTee> tee;
};

// A sink without a device: a timer thread renders one period (~10 ms of frames at the device
// rate) per deadline, deadlines spaced period / speedFactor apart. The clock it hands to the
// render callback is the rendered signal time (frames / rate). It consumes like a device
// running at speedFactor times real time, so a source paced at the same factor keeps the
// player's queue level. For tests, CI, headless runs and machines without a sound device.
// Thread safety: start/stop from one owner thread; the observers from any thread.
class NullAudioSink final : public AudioSink {
public:
    explicit NullAudioSink(NullAudioSinkConfig config);
    ~NullAudioSink() override;

    void start(RenderCallback render) override;
    void stop() override;
    bool isRunning() const override { return running.load(std::memory_order_relaxed); }
    double deviceSampleRate() const override { return config.sampleRateHz; }

    std::uint64_t framesRendered() const { return frames.load(std::memory_order_relaxed); }
    std::size_t framesPerPeriod() const { return periodFrames; }

private:
    void run(const std::stop_token& stop);
    void renderPeriod();

    NullAudioSinkConfig config;
    std::size_t periodFrames;
    RenderCallback renderCallback;
    std::vector<float> left, right;  // one period, reused
    std::atomic<std::uint64_t> frames{0};
    std::atomic<bool> running{false};
    std::mutex wakeMutex;
    std::condition_variable_any wake;
    std::jthread thread;  // last: joined before the members it uses go away
};
