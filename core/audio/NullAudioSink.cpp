#include "audio/NullAudioSink.h"

#include <algorithm>
#include <cmath>

#include "platform/ThreadSupport.h"

namespace {

// Falling further behind than this (a suspended process, a debugger) restarts the schedule
// instead of rendering the missed periods in a burst.
constexpr std::chrono::milliseconds kMaxLag{500};

}  // namespace

NullAudioSink::NullAudioSink(NullAudioSinkConfig cfg)
    : config(std::move(cfg)),
      periodFrames(static_cast<std::size_t>(std::max(
          1.0,
          std::round(config.sampleRateHz * std::chrono::duration<double>(config.period).count())))),
      left(periodFrames, 0.0f),
      right(periodFrames, 0.0f) {
    if (!(config.speedFactor > 0.0)) config.speedFactor = 1.0;
}

NullAudioSink::~NullAudioSink() {
    stop();
}

void NullAudioSink::start(RenderCallback render) {
    stop();
    renderCallback = std::move(render);
    running.store(true, std::memory_order_relaxed);
    thread = std::jthread([this](const std::stop_token& stop) { run(stop); });
}

void NullAudioSink::stop() {
    if (!thread.joinable()) return;
    thread.request_stop();
    thread.join();
    running.store(false, std::memory_order_relaxed);
}

void NullAudioSink::renderPeriod() {
    const std::uint64_t after = frames.load(std::memory_order_relaxed) + periodFrames;
    const double hostTimeSeconds = static_cast<double>(after) / config.sampleRateHz;
    renderCallback(left, right, hostTimeSeconds);
    if (config.tee) config.tee->append(left, right);
    frames.store(after, std::memory_order_relaxed);
}

void NullAudioSink::run(const std::stop_token& stop) {
    configureCurrentThread("NullAudioSink", ThreadPriority::userInteractive);
    using Clock = std::chrono::steady_clock;
    const auto step = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(config.period) / config.speedFactor);
    auto deadline = Clock::now();
    while (!stop.stop_requested()) {
        renderPeriod();
        deadline += step;
        const auto now = Clock::now();
        if (now - deadline > kMaxLag) deadline = now;
        std::unique_lock lock(wakeMutex);
        wake.wait_until(lock, stop, deadline, [] { return false; });
    }
}
