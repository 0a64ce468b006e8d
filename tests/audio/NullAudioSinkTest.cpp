#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <numeric>
#include <vector>

#include "audio/AudioOutput.h"
#include "audio/NullAudioSink.h"

namespace {

using namespace std::chrono_literals;

constexpr double kRateHz = 51'200.0;
// Generous: only reached if the sink stops rendering. The sink runs 50x real time, so the
// waits below take tens of milliseconds.
constexpr auto kSafetyTimeout = 20s;

}  // namespace

TEST(NullAudioSinkTest, PlaysWhatWasQueuedThenSilence) {
    auto tee = std::make_shared<AudioTee>();
    AudioOutput output(kRateHz, 1.0f, [&](double rateHz) {
        return std::make_unique<NullAudioSink>(
            NullAudioSinkConfig{.sampleRateHz = rateHz, .speedFactor = 50.0, .tee = tee});
    });
    // Half a second of a 1 kHz tone on the left, its negative on the right.
    std::vector<float> left(25'600), right(25'600);
    for (std::size_t n = 0; n < left.size(); ++n) {
        left[n] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1'000.0 * double(n) / kRateHz));
        right[n] = -left[n];
    }
    output.pushStereo(left, right);
    output.start();
    ASSERT_TRUE(tee->waitForFrames(left.size() + 4'096, kSafetyTimeout));

    const AudioTee::Capture captured = tee->drain();
    EXPECT_EQ(captured.left.size() % 512, 0u) << "whole periods";
    for (std::size_t i = 0; i < captured.left.size(); ++i) ASSERT_EQ(captured.right[i], -captured.left[i]) << i;
    // 1:1 apart from the drift loop's trim (at most 0.5 %): 25,600 samples take about as many
    // frames, the last of them 1 kHz like the first, then the queue is dry and stays silent.
    const std::size_t delay = AudioResampler::kDelaySamples;
    double firstCrossing = -1.0, lastCrossing = -1.0;
    int crossings = 0;
    for (std::size_t i = delay + 1; i < captured.left.size(); ++i) {
        const float a = captured.left[i - 1], b = captured.left[i];
        if (a < 0.0f && b >= 0.0f) {
            const double t = double(i - 1) + a / (a - b);
            if (firstCrossing < 0) firstCrossing = t;
            lastCrossing = t;
            ++crossings;
        }
    }
    EXPECT_NEAR((crossings - 1) * kRateHz / (lastCrossing - firstCrossing), 1'000.0, 5.0);
    EXPECT_NEAR(lastCrossing, 25'600.0, 200.0);
    const std::size_t silentFrom = delay + 25'600 + 200;
    ASSERT_GT(captured.left.size(), silentFrom);
    EXPECT_TRUE(std::all_of(captured.left.begin() + silentFrom, captured.left.end(), [](float v) { return v == 0.0f; }));
}

TEST(NullAudioSinkTest, ClockIsRenderedSignalTime) {
    auto tee = std::make_shared<AudioTee>();
    NullAudioSink sink({.sampleRateHz = kRateHz, .speedFactor = 100.0, .tee = tee});
    ASSERT_EQ(sink.framesPerPeriod(), 512u);
    std::mutex mutex;
    std::vector<double> times;
    sink.start([&](std::span<float> l, std::span<float> r, double hostTimeSeconds) {
        std::fill(l.begin(), l.end(), 0.25f);
        std::fill(r.begin(), r.end(), -0.25f);
        std::lock_guard lock(mutex);
        times.push_back(hostTimeSeconds);
    });
    ASSERT_TRUE(tee->waitForFrames(512 * 10, kSafetyTimeout));
    sink.stop();
    EXPECT_FALSE(sink.isRunning());
    const std::uint64_t frames = sink.framesRendered();
    EXPECT_EQ(frames % 512, 0u);
    std::lock_guard lock(mutex);
    ASSERT_EQ(times.size(), frames / 512);
    for (std::size_t k = 0; k < times.size(); ++k) {
        EXPECT_DOUBLE_EQ(times[k], double((k + 1) * 512) / kRateHz) << k;
    }
    const AudioTee::Capture captured = tee->snapshot();
    EXPECT_EQ(captured.left, std::vector<float>(frames, 0.25f));
    EXPECT_EQ(captured.right, std::vector<float>(frames, -0.25f));
}
