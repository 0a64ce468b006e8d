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
    // The prime, 0.4 s, of a 1 kHz tone on the left and its negative on the right.
    std::vector<float> left(20'480), right(20'480);
    for (std::size_t n = 0; n < left.size(); ++n) {
        left[n] = static_cast<float>(
            0.5 * std::sin(2.0 * std::numbers::pi * 1'000.0 * double(n) / kRateHz));
        right[n] = -left[n];
    }
    output.pushStereo(left, right);
    output.start();
    ASSERT_TRUE(tee->waitForFrames(left.size() + 4'096, kSafetyTimeout));

    const AudioTee::Capture captured = tee->drain();
    EXPECT_EQ(captured.left.size() % 512, 0u) << "whole periods";
    for (std::size_t i = 0; i < captured.left.size(); ++i)
        ASSERT_EQ(captured.right[i], -captured.left[i]) << i;
    // At its target the queue plays 1:1, sample for sample after the filter delay, until the
    // draining queue leaves the drift loop's tolerance (0.35 s, reached in the smoothed depth
    // after 0.3 s) and it starts to trim. Then the queue is dry: silence.
    const std::size_t delay = AudioPlaybackResampler::kDelaySamples;
    for (std::size_t n = 0; n < 12'800; ++n) ASSERT_EQ(captured.left[delay + n], left[n]) << n;
    // The last queued samples play at the underrun; the filter's delay line keeps the last 33
    // for when audio resumes.
    std::size_t lastSound = captured.left.size();
    while (lastSound > 0 && captured.left[lastSound - 1] == 0.0f) --lastSound;
    EXPECT_NEAR(double(lastSound), double(left.size()), 10.0);
    EXPECT_GT(captured.left.size(), lastSound + 1'000);
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
