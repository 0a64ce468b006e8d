#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
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

TEST(NullAudioSinkTest, TeeCapturesExactlyWhatWasPushed) {
    auto tee = std::make_shared<AudioTee>();
    AudioOutput output(kRateHz, 1.0f, [&](double rateHz) {
        return std::make_unique<NullAudioSink>(
            NullAudioSinkConfig{.sampleRateHz = rateHz, .speedFactor = 50.0, .tee = tee});
    });
    output.setSourceRate(kRateHz);  // producer at the device rate: periods copy 1:1
    std::vector<float> left(25'600), right(25'600);
    std::iota(left.begin(), left.end(), 1.0f);
    std::iota(right.begin(), right.end(), -30'000.0f);
    output.pushStereo(left, right);
    output.start();
    ASSERT_TRUE(tee->waitForFrames(left.size() + 1'024, kSafetyTimeout));

    const AudioTee::Capture captured = tee->drain();
    ASSERT_GE(captured.left.size(), left.size());
    EXPECT_TRUE(std::equal(left.begin(), left.end(), captured.left.begin()));
    EXPECT_TRUE(std::equal(right.begin(), right.end(), captured.right.begin()));
    // After the queue ran dry: silence.
    EXPECT_EQ(captured.left[left.size()], 0.0f);
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
