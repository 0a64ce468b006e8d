#include <gtest/gtest.h>

#include <numeric>
#include <utility>
#include <vector>

#include "audio/AudioError.h"
#include "audio/AudioOutput.h"

namespace {

constexpr double kRateHz = 51'200.0;

// A sink the test drives by hand: each pull() is one render callback at a chosen clock time.
class FakeAudioSink final : public AudioSink {
public:
    struct Shared {
        bool stopped = false;
    };
    FakeAudioSink(std::shared_ptr<Shared> shared, std::optional<AudioError> startError)
        : shared(std::move(shared)), startError(std::move(startError)) {}
    void start(RenderCallback render) override {
        if (startError) throw *startError;
        callback = std::move(render);
    }
    void stop() override { shared->stopped = true; }
    bool isRunning() const override { return bool(callback) && !shared->stopped; }
    double deviceSampleRate() const override { return kRateHz; }

    std::pair<std::vector<float>, std::vector<float>> pull(std::size_t frames, double timeSeconds) {
        std::vector<float> left(frames, -99.0f), right(frames, -99.0f);
        callback(left, right, timeSeconds);
        return {std::move(left), std::move(right)};
    }

private:
    std::shared_ptr<Shared> shared;
    std::optional<AudioError> startError;
    RenderCallback callback;
};

struct Harness {
    explicit Harness(float volume = 1.0f, std::optional<AudioError> startError = std::nullopt)
        : output(kRateHz, volume, [&](double) {
              auto s = std::make_unique<FakeAudioSink>(shared, startError);
              sink = s.get();
              return s;
          }) {
        output.start();
    }
    std::shared_ptr<FakeAudioSink::Shared> shared = std::make_shared<FakeAudioSink::Shared>();
    FakeAudioSink* sink = nullptr;
    AudioOutput output;
};

std::vector<float> ramp(std::size_t count, float start = 0.0f) {
    std::vector<float> out(count);
    std::iota(out.begin(), out.end(), start);
    return out;
}

bool isSilent(const std::vector<float>& block) {
    return std::all_of(block.begin(), block.end(), [](float v) { return v == 0.0f; });
}

}  // namespace

TEST(AudioOutputTest, PrimesOnceWithFourTenthsOfASecond) {
    Harness h;
    h.output.push(ramp(20'479, 1.0f));
    // Every clock spacing (paced or not) stays silent before the prime.
    EXPECT_TRUE(isSilent(h.sink->pull(512, 1.00).first));
    EXPECT_TRUE(isSilent(h.sink->pull(512, 1.01).first));
    EXPECT_FALSE(h.output.hasStartedPlayback());
    EXPECT_EQ(h.output.bufferedSampleCount(), 20'479u);

    h.output.push(ramp(1, 20'480.0f));
    const auto [left, right] = h.sink->pull(512, 1.5);  // unpaced: exactly 512 taken
    EXPECT_EQ(left, ramp(512, 1.0f));
    EXPECT_EQ(right, left);
    EXPECT_TRUE(h.output.hasStartedPlayback());

    // Drain, underrun to silence, then a few samples play at once: no second prime.
    h.sink->pull(20'000, 2.0);
    EXPECT_EQ(h.output.bufferedSampleCount(), 0u);
    EXPECT_TRUE(isSilent(h.sink->pull(512, 2.5).first));
    h.output.push(ramp(512, 7.0f));
    EXPECT_EQ(h.sink->pull(512, 3.0).first, ramp(512, 7.0f));
    EXPECT_EQ(h.output.pullCallCount(), 6);
}

TEST(AudioOutputTest, CapKeepsTheNewestFourSecondsWhateverTheChunking) {
    const std::vector<float> input = ramp(300'000);
    for (const std::size_t chunk : {std::size_t{300'000}, std::size_t{7'001}, std::size_t{1}}) {
        SCOPED_TRACE(chunk);
        Harness h;
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            h.output.push(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
        }
        EXPECT_EQ(h.output.bufferedSampleCount(), 204'800u);
        const auto [left, right] = h.sink->pull(204'800, 1.0);
        EXPECT_EQ(left, ramp(204'800, 300'000.0f - 204'800.0f));
        EXPECT_EQ(right, left);
    }
}

TEST(AudioOutputTest, PacingStretchesOrSqueezesTheClockWorthOfSamples) {
    // A callback 10 ms after the previous one takes 480 samples at 48,000/s. The queue holds
    // the ramp 0, 1, 2, ... so an interpolated frame's value is its position.
    struct Case {
        double sourceRateHz;
        double intervalSeconds;
        std::size_t frames;
        std::size_t consumed;
    };
    const Case cases[] = {
        {48'000, 0.01, 512, 480},    // stretch 480 -> 512
        {48'000, 0.02, 512, 960},    // squeeze 960 -> 512
        {48'000, 0.2, 512, 512},     // interval too long to trust: take what was asked
        {48'000, 0.0005, 512, 512},  // too short as well
        {48'000, 0.01, 480, 480},    // exact: plain copy
        {48'000, 0.0105, 2, 504},    // n < 3 uses step k - 1: frames at 0 and 503
        {51'200, 0.01, 512, 512},    // analog producer rate: 1:1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sourceRateHz << " " << c.intervalSeconds);
        Harness h;
        h.output.setSourceRate(c.sourceRateHz);
        h.output.push(ramp(40'000));
        h.sink->pull(0, 10.0);  // sets the clock reference; 0 frames consume nothing
        ASSERT_EQ(h.output.bufferedSampleCount(), 40'000u);
        const auto [left, right] = h.sink->pull(c.frames, 10.0 + c.intervalSeconds);
        EXPECT_EQ(h.output.bufferedSampleCount(), 40'000u - c.consumed);
        ASSERT_EQ(left.size(), c.frames);
        const double step =
            c.frames >= 3 ? double(c.consumed - 1) / double(c.frames - 1) : double(c.consumed - 1);
        for (std::size_t i = 0; i < c.frames; ++i) {
            EXPECT_NEAR(left[i], step * i, 2e-3 * c.consumed) << i;  // float position
            EXPECT_EQ(right[i], left[i]);
        }
        EXPECT_NEAR(left.back(), float(c.consumed - 1), 1e-3f);  // last frame on last sample
    }
}

TEST(AudioOutputTest, ShortQueueIsStretchedNotZeroPadded) {
    Harness h;
    h.output.push(ramp(20'480));
    h.sink->pull(20'479, 1.0);
    ASSERT_EQ(h.output.bufferedSampleCount(), 1u);
    const auto [left, right] = h.sink->pull(512, 2.0);
    EXPECT_EQ(left, std::vector<float>(512, 20'479.0f));
    EXPECT_EQ(h.output.bufferedSampleCount(), 0u);
}

TEST(AudioOutputTest, ChannelsOfDifferentLengthPlayTheirCommonPart) {
    Harness h;
    h.output.pushStereo(ramp(21'000), ramp(20'500, 0.5f));
    auto [left, right] = h.sink->pull(20'500, 1.0);
    EXPECT_EQ(left, ramp(20'500));
    EXPECT_EQ(right, ramp(20'500, 0.5f));
    EXPECT_EQ(h.output.bufferedSampleCount(), 500u);  // left's surplus waits
    EXPECT_TRUE(isSilent(h.sink->pull(64, 2.0).first));
    // An absent right channel plays left on both; the surplus is still ahead of it.
    h.output.pushStereo(ramp(100, 3.0f));
    std::tie(left, right) = h.sink->pull(100, 3.0);
    EXPECT_EQ(left, ramp(100, 20'500.0f));
    EXPECT_EQ(right, ramp(100, 3.0f));
}

TEST(AudioOutputTest, VolumeScalesTheFinalMix) {
    Harness h(/*volume=*/0.5f);
    h.output.pushStereo(std::vector<float>(30'000, 0.8f), std::vector<float>(30'000, -0.4f));
    auto [left, right] = h.sink->pull(4, 1.0);
    EXPECT_EQ(left, std::vector<float>(4, 0.4f));
    EXPECT_EQ(right, std::vector<float>(4, -0.2f));
    h.output.setVolume(0.0f);
    std::tie(left, right) = h.sink->pull(4, 2.0);
    EXPECT_TRUE(isSilent(left) && isSilent(right));
}

TEST(AudioOutputTest, EngineFailuresAreTypedAndTheSinkIsStoppedOnRelease) {
    try {
        Harness h(1.0f, AudioError{.kind = AudioError::Kind::engineStartFailed,
                                   .message = "PortAudio: Invalid device"});
        FAIL() << "start() did not throw";
    } catch (const AudioError& error) {
        EXPECT_EQ(error.describe(), "engineStartFailed(\"PortAudio: Invalid device\")");
    }
    try {
        AudioOutput bad(0.0, 0.5f, [](double) { return std::unique_ptr<AudioSink>(); });
        FAIL() << "a zero rate was accepted";
    } catch (const AudioError& error) {
        EXPECT_EQ(error.describe(), "formatCreationFailed(\"Ne mogu kreirati audio format\")");
    }
    try {
        AudioOutput none(kRateHz, 0.5f, [](double) { return std::unique_ptr<AudioSink>(); });
        FAIL() << "a missing sink was accepted";
    } catch (const AudioError& error) {
        EXPECT_EQ(error.describe(), "noOutputDevice");
    }
    // The sink's thread calls into the output, so the output stops it before going away.
    std::shared_ptr<FakeAudioSink::Shared> shared;
    {
        Harness h;
        shared = h.shared;
        EXPECT_TRUE(h.output.isEngineRunning());
    }
    EXPECT_TRUE(shared->stopped);
}
