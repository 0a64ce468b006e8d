#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "audio/AudioError.h"
#include "audio/AudioOutput.h"

namespace {

constexpr double kRateHz = 51'200.0;
constexpr std::size_t kDelay = AudioPlaybackResampler::kDelaySamples;

// A sink the test drives by hand: each pull() is one render callback.
class FakeAudioSink final : public AudioSink {
public:
    struct Shared {
        bool stopped = false;
    };
    FakeAudioSink(std::shared_ptr<Shared> shared, double deviceRateHz,
                  std::optional<AudioError> startError)
        : shared(std::move(shared)), rateHz(deviceRateHz), startError(std::move(startError)) {}
    void start(RenderCallback render) override {
        if (startError) throw *startError;
        callback = std::move(render);
        shared->stopped = false;
    }
    void stop() override { shared->stopped = true; }
    bool isRunning() const override { return bool(callback) && !shared->stopped; }
    double deviceSampleRate() const override { return rateHz; }

    std::pair<std::vector<float>, std::vector<float>> pull(std::size_t frames) {
        std::vector<float> left(frames, -99.0f), right(frames, -99.0f);
        callback(left, right, 0.0);
        return {std::move(left), std::move(right)};
    }

    std::shared_ptr<Shared> shared;

private:
    double rateHz;
    std::optional<AudioError> startError;
    RenderCallback callback;
};

struct Harness {
    explicit Harness(double deviceRateHz = kRateHz, float volume = 1.0f)
        : output(kRateHz, volume, [this, deviceRateHz](double) {
              auto s = std::make_unique<FakeAudioSink>(shared, deviceRateHz, std::nullopt);
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

bool isSilent(std::span<const float> block) {
    return std::all_of(block.begin(), block.end(), [](float v) { return v == 0.0f; });
}

float toneSample(std::uint64_t n, double phaseRad = 0.0) {
    return static_cast<float>(
        0.5 *
        std::sin(2.0 * std::numbers::pi * 1'000.0 * static_cast<double>(n) / kRateHz + phaseRad));
}

// Frequency of a steady tone from its interpolated rising zero crossings.
double toneFrequencyHz(std::span<const float> x, double rateHz) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * rateHz / (last - first);
}

// Phase of the 1 kHz tone in a block, radians.
double tonePhaseRad(std::span<const float> x, double rateHz) {
    double re = 0.0, im = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double w = 2.0 * std::numbers::pi * 1'000.0 * static_cast<double>(n) / rateHz;
        re += x[n] * std::cos(w);
        im -= x[n] * std::sin(w);
    }
    return std::atan2(im, re);
}

// A producer pushing the 1 kHz tone at the source rate in 4 ms blocks (the analog loop's
// 204.8-sample blocks) against a device whose callbacks jitter: each asks for the frames of
// 10 ms ± jitter and arrives at its nominal time ± jitter. Time is simulated; the device's
// frame count is the clock. `rightPhaseRad` shifts the right channel's tone.
struct TonePlayer {
    Harness& h;
    double deviceRateHz;
    double jitterSeconds;
    double producerOffset = 0.0;  // producer clock error (0.002: 0.2 % fast)
    double rightPhaseRad = 0.0;
    std::mt19937 rng{20'240'601};
    std::uint64_t pushed = 0, deviceFrames = 0;
    double nextPushSeconds = 0.0;
    std::vector<float> left, right;

    // Plays until the device has played `seconds`; the producer pauses during [pauseFrom, pauseTo).
    void run(double seconds, double pauseFrom = 1e9, double pauseTo = 1e9) {
        std::uniform_real_distribution<double> jitter(-jitterSeconds, jitterSeconds);
        while (static_cast<double>(deviceFrames) / deviceRateHz < seconds) {
            const double callAt = static_cast<double>(deviceFrames) / deviceRateHz + jitter(rng);
            while (nextPushSeconds <= callAt) {
                const bool paused = nextPushSeconds >= pauseFrom && nextPushSeconds < pauseTo;
                nextPushSeconds += 0.004;
                const auto target =
                    static_cast<std::uint64_t>(nextPushSeconds * kRateHz * (1.0 + producerOffset));
                std::vector<float> l, r;
                for (; pushed < target; ++pushed) {
                    l.push_back(toneSample(pushed));
                    r.push_back(toneSample(pushed, rightPhaseRad));
                }
                if (!paused) h.output.pushStereo(l, std::span<const float>(r));
            }
            const auto frames =
                static_cast<std::size_t>(std::lround(deviceRateHz * (0.01 + jitter(rng))));
            auto [l, r] = h.sink->pull(frames);
            left.insert(left.end(), l.begin(), l.end());
            right.insert(right.end(), r.begin(), r.end());
            deviceFrames += frames;
        }
    }
};

// Lowest and highest tone frequency over 20 ms windows of [from, to) seconds, skipping
// windows with silence in them.
std::pair<double, double> pitchRange(const std::vector<float>& played, double rateHz, double from,
                                     double to) {
    const auto window = static_cast<std::size_t>(rateHz * 0.02);
    double lo = 1e9, hi = 0.0;
    for (auto at = static_cast<std::size_t>(from * rateHz);
         at + window <= std::min(played.size(), static_cast<std::size_t>(to * rateHz));
         at += window) {
        const std::span<const float> w(played.data() + at, window);
        if (std::any_of(w.begin(), w.end(), [](float v) { return v == 0.0f; })) continue;
        const double hz = toneFrequencyHz(w, rateHz);
        lo = std::min(lo, hz);
        hi = std::max(hi, hz);
    }
    return {lo, hi};
}

}  // namespace

TEST(AudioOutputTest, PrimesWithFourTenthsOfASecondAndAgainAfterAnUnderrun) {
    Harness h;
    h.output.push(ramp(20'479, 1.0f));
    EXPECT_TRUE(isSilent(h.sink->pull(512).first));
    EXPECT_FALSE(h.output.hasStartedPlayback());
    EXPECT_EQ(h.output.bufferedSampleCount(), 20'479u);

    h.output.push(ramp(1, 20'480.0f));
    const auto [left, right] = h.sink->pull(512);
    // 1:1 at the target depth: the samples themselves, behind the resampler's filter delay.
    EXPECT_TRUE(isSilent(std::span(left).first(kDelay)));
    for (std::size_t i = kDelay; i < 512; ++i) ASSERT_EQ(left[i], float(i - kDelay + 1)) << i;
    EXPECT_EQ(right, left);
    EXPECT_TRUE(h.output.hasStartedPlayback() && h.output.isPlaying());

    // Play the queue dry: the callback that runs out plays what is left, then silence.
    std::vector<float> last;
    while (h.output.isPlaying()) last = h.sink->pull(512).first;
    EXPECT_EQ(h.output.underrunCount(), 1);
    EXPECT_EQ(h.output.bufferedSampleCount(), 0u);
    EXPECT_FALSE(isSilent(last));
    EXPECT_EQ(last.back(), 0.0f) << "a short queue is not stretched over the whole period";

    // Less than a full prime stays queued in silence; the prime starts it again.
    h.output.push(ramp(20'000, 1.0f));
    EXPECT_TRUE(isSilent(h.sink->pull(512).first));
    h.output.push(ramp(480, 1.0f));
    EXPECT_FALSE(isSilent(h.sink->pull(512).first));
    EXPECT_TRUE(h.output.hasStartedPlayback());
}

TEST(AudioOutputTest, QueueKeepsTheNewestFourSecondsAndPlaysFromTheNewestFourTenths) {
    const std::vector<float> input = ramp(300'000);
    for (const std::size_t chunk : {std::size_t{300'000}, std::size_t{7'001}, std::size_t{1}}) {
        SCOPED_TRACE(chunk);
        Harness h;
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            h.output.push(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
        }
        EXPECT_EQ(h.output.bufferedSampleCount(), 204'800u);
        // Beyond 0.8 s the backlog is cut to 0.4 s at once instead of playing 4 s late.
        const auto [left, right] = h.sink->pull(512);
        EXPECT_EQ(h.output.bufferedSampleCount(), 20'480u - 512u);
        EXPECT_EQ(left[kDelay], 300'000.0f - 20'480.0f);
        EXPECT_EQ(left.back(), 300'000.0f - 20'480.0f + 511.0f - float(kDelay));
    }
}

TEST(AudioOutputTest, JitteringCallbacksDoNotMoveThePitch) {
    // Taking "callback interval × rate" samples per callback would move a 1 kHz tone to
    // between 928 and 1,076 Hz over 20 ms windows with ±0.5 ms of jitter, 683 to 1,342 Hz
    // with ±2 ms. Only the drift loop's trim (at most 0.5 %) may move it here.
    struct Case {
        double deviceRateHz, jitterSeconds, producerOffset, expectedHz;
    };
    const Case cases[] = {
        {51'200, 0.0005, 0.0, 1'000.0},
        {51'200, 0.002, 0.0, 1'000.0},
        {48'000, 0.0005, 0.0, 1'000.0},
        {48'000, 0.002, 0.0, 1'000.0},
        {44'100, 0.002, 0.0, 1'000.0},
        // A producer clock 0.4 % fast: the queue grows past its tolerance and the drift loop
        // then consumes 0.4 % faster, so the tone rises by as much, slowly.
        {48'000, 0.002, 0.004, 1'000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.deviceRateHz << " Hz, ±" << c.jitterSeconds * 1e3
                                        << " ms, producer " << c.producerOffset);
        Harness h(c.deviceRateHz);
        TonePlayer player{.h = h,
                          .deviceRateHz = c.deviceRateHz,
                          .jitterSeconds = c.jitterSeconds,
                          .producerOffset = c.producerOffset};
        const double seconds = c.producerOffset > 0 ? 60.0 : 20.0;
        player.run(seconds);
        EXPECT_EQ(h.output.underrunCount(), 0);
        const auto [lo, hi] = pitchRange(player.left, c.deviceRateHz, 0.5, seconds);
        // 0.5 %: the most the drift loop may ever trim.
        EXPECT_GT(lo, c.expectedHz * 0.995);
        EXPECT_LT(hi, c.expectedHz * 1.005);
        // The queue ends within the loop's ±50 ms tolerance of its 0.4 s target, and the
        // loop has learnt the producer's offset.
        EXPECT_NEAR(double(h.output.bufferedSampleCount()) / kRateHz, 0.4, 0.06);
        EXPECT_NEAR(h.output.rateCorrection(), c.producerOffset, 0.0005);
    }
}

TEST(AudioOutputTest, UnderrunRePrimesInsteadOfStretching) {
    Harness h(48'000.0);
    TonePlayer player{.h = h, .deviceRateHz = 48'000.0, .jitterSeconds = 0.002};
    player.run(8.0, /*pauseFrom=*/3.0, /*pauseTo=*/3.7);  // 0.7 s without audio
    EXPECT_EQ(h.output.underrunCount(), 1);

    // The queue ran dry about 0.4 s after the pause began; playing resumes once 0.4 s is
    // queued again, about 0.4 s after the producer resumed. Between: exact silence.
    const std::vector<float>& out = player.left;
    const auto at = [](double seconds) { return static_cast<std::size_t>(seconds * 48'000.0); };
    std::size_t silentFrom = 0, silentTo = 0;  // the longest run of zeros
    for (std::size_t i = 0, runStart = 0; i < out.size(); ++i) {
        if (out[i] != 0.0f)
            runStart = i + 1;
        else if (i + 1 - runStart > silentTo - silentFrom)
            std::tie(silentFrom, silentTo) = std::pair(runStart, i + 1);
    }
    EXPECT_NEAR(double(silentFrom) / 48'000.0, 3.4, 0.05);
    EXPECT_NEAR(double(silentTo) / 48'000.0, 4.1, 0.05);

    // Every 20 ms of tone, right up to the gap and right after it, at 1 kHz.
    const auto [lo, hi] = pitchRange(out, 48'000.0, 0.5, 8.0);
    EXPECT_GT(lo, 995.0);
    EXPECT_LT(hi, 1'005.0);
    EXPECT_NEAR(toneFrequencyHz(std::span(out).subspan(silentFrom - at(0.02), at(0.02)), 48'000.0),
                1'000.0, 5.0);
    EXPECT_NEAR(toneFrequencyHz(std::span(out).subspan(silentTo + 1, at(0.02)), 48'000.0), 1'000.0,
                5.0);
}

TEST(AudioOutputTest, StereoChannelsStayAligned) {
    // Right carries the tone 10 source samples late; resampled to 48 kHz under ±2 ms jitter,
    // it must still be exactly those 10 samples (70.3125°) late in every window.
    const double lagRad = 2.0 * std::numbers::pi * 1'000.0 * 10.0 / kRateHz;
    Harness h(48'000.0);
    TonePlayer player{
        .h = h, .deviceRateHz = 48'000.0, .jitterSeconds = 0.002, .rightPhaseRad = -lagRad};
    player.run(10.0);
    const auto window = static_cast<std::size_t>(48'000 * 0.02);
    for (std::size_t at = 48'000; at + window <= player.left.size(); at += window) {
        const double l = tonePhaseRad(std::span(player.left).subspan(at, window), 48'000.0);
        const double r = tonePhaseRad(std::span(player.right).subspan(at, window), 48'000.0);
        ASSERT_NEAR(std::remainder(l - r - lagRad, 2.0 * std::numbers::pi), 0.0, 1e-3) << at;
    }

    // Channels pushed in blocks of different lengths pair up by position, not by push: right
    // is left + 0.25 sample for sample, pushed 21,000 + 0 against 20,500 + 500.
    std::vector<float> tone(21'000), raised(21'000);
    for (std::size_t n = 0; n < tone.size(); ++n) {
        tone[n] = toneSample(n);
        raised[n] = tone[n] + 0.25f;
    }
    Harness uneven;
    uneven.output.pushStereo(tone, std::span<const float>(raised).first(20'500));
    EXPECT_EQ(uneven.output.bufferedSampleCount(), 21'000u);
    uneven.output.pushStereo(std::span<const float>(),
                             std::span<const float>(raised).subspan(20'500));
    auto [l, r] = uneven.sink->pull(512);
    // From 2 × 64 frames on the filter window holds only queued samples.
    for (std::size_t i = 2 * AudioPlaybackResampler::kTaps; i < 512; ++i)
        ASSERT_NEAR(r[i] - l[i], 0.25f, 1e-5f) << i;
}

TEST(AudioOutputTest, VolumeScalesTheFinalMix) {
    Harness h(kRateHz, /*volume=*/0.5f);
    h.output.pushStereo(std::vector<float>(30'000, 0.8f), std::vector<float>(30'000, -0.4f));
    auto [left, right] = h.sink->pull(256);
    for (std::size_t i = 2 * AudioPlaybackResampler::kTaps; i < 256; ++i) {
        EXPECT_NEAR(left[i], 0.4f, 1e-6f);
        EXPECT_NEAR(right[i], -0.2f, 1e-6f);
    }
    h.output.setVolume(0.0f);
    std::tie(left, right) = h.sink->pull(64);
    EXPECT_TRUE(isSilent(left) && isSilent(right));
}

TEST(AudioOutputTest, EngineFailuresAreTypedAndASinkCanBeReplaced) {
    const AudioError invalid{.kind = AudioError::Kind::engineStartFailed,
                             .message = "PortAudio: Invalid device"};
    auto shared = std::make_shared<FakeAudioSink::Shared>();
    try {
        AudioOutput failing(kRateHz, 1.0f, [&](double) {
            return std::make_unique<FakeAudioSink>(shared, kRateHz, invalid);
        });
        failing.start();
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

    // A failed replacement keeps the old sink playing; a good one takes over the queue.
    Harness h;
    FakeAudioSink* first = h.sink;
    h.output.push(ramp(30'000));
    EXPECT_THROW(h.output.replaceSink([&](double) {
        return std::make_unique<FakeAudioSink>(shared, 48'000.0, invalid);
    }),
                 AudioError);
    EXPECT_TRUE(h.output.isEngineRunning());
    EXPECT_FALSE(isSilent(first->pull(512).first));

    auto secondShared = std::make_shared<FakeAudioSink::Shared>();
    FakeAudioSink* second = nullptr;
    h.output.replaceSink([&](double) {
        auto s = std::make_unique<FakeAudioSink>(secondShared, 48'000.0, std::nullopt);
        second = s.get();
        return s;
    });
    EXPECT_TRUE(h.shared->stopped) << "the old sink must not pull beside the new one";
    const std::size_t queued = h.output.bufferedSampleCount();
    second->pull(480);  // the 48 kHz device's 480 frames take 512 source samples, ± 0.5 %
    EXPECT_NEAR(double(queued - h.output.bufferedSampleCount()), 512.0, 3.0);

    // The sink's thread calls into the output, so the output stops it before going away.
    {
        Harness released;
        shared = released.shared;
        EXPECT_TRUE(released.output.isEngineRunning());
    }
    EXPECT_TRUE(shared->stopped);
}
