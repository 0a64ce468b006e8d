#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "audio/AudioSink.h"

// Fixed-capacity FIFO of samples that drops its oldest samples when more arrive than fit.
// Storage is allocated once; no operation allocates. Not locked: AudioOutput guards it.
class AudioSampleRing {
public:
    explicit AudioSampleRing(std::size_t capacity);
    void append(std::span<const float> samples);
    std::size_t size() const { return count; }
    // index 0 is the oldest queued sample; index < size().
    float at(std::size_t index) const {
        std::size_t slot = head + index;
        if (slot >= storage.size()) slot -= storage.size();
        return storage[slot];
    }
    void discard(std::size_t samples);

private:
    std::vector<float> storage;
    std::size_t head = 0;  // slot of the oldest sample
    std::size_t count = 0;
};

// Plays the receiver's audio. Producers (the analog loop, the DAB audio path) push left and
// right float blocks at their own pace; the sink's real-time thread pulls periods of frames.
// Between them: two queues of at most 4 s each (oldest dropped), a one-time 0.4 s prime, and
// pacing that consumes, per callback, as many queued samples as the sink-clock time since the
// previous callback is worth at the source rate, stretched or squeezed by linear
// interpolation to exactly the frames asked for. The output volume is applied after pacing,
// as a final mixer stage.
//
// Thread safety: every public operation may be called from any thread; pushes and the
// real-time pull meet under one mutex, held only inside those operations. The pull does not
// allocate. The sink is stopped (and its thread finished) before the object goes away.
class AudioOutput {
public:
    using SinkFactory = std::function<std::unique_ptr<AudioSink>(double rateHz)>;

    // Consumption rate until setSourceRate is called: DAB+ audio decoded at 48 kHz.
    static constexpr double kDefaultSourceRateHz = 48'000.0;

    // Creates the sink for `sampleRateHz` through `makeSink`. Throws AudioError
    // formatCreationFailed("Ne mogu kreirati audio format") for a rate that is not positive,
    // noOutputDevice when the factory returns no sink, and whatever the factory throws.
    AudioOutput(double sampleRateHz, float volume, const SinkFactory& makeSink);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Starts the sink; throws AudioError when it cannot start.
    void start();

    // Queues the same samples on both channels.
    void push(std::span<const float> samples);
    // Queues left and right; an absent right queues left on both channels. The two blocks may
    // differ in length: each queue is appended and trimmed to 4 s on its own.
    void pushStereo(std::span<const float> left,
                    std::optional<std::span<const float>> right = std::nullopt);

    // Final mix gain, applied to every rendered frame (1 = unity).
    void setVolume(float volume);
    float volume() const { return mixerVolume.load(std::memory_order_relaxed); }
    // Samples per second of sink-clock time taken from the queues; must match the producer
    // (51,200 for the analog loop, the decoder's output rate for DAB+).
    void setSourceRate(double samplesPerSecond);
    double sourceRate() const { return sourceRateHz.load(std::memory_order_relaxed); }

    bool isEngineRunning() const;
    std::size_t bufferedSampleCount() const;
    bool hasStartedPlayback() const;
    std::size_t pacingHighWaterMark() const { return maxRecoveryThreshold; }
    std::size_t maxQueuedSamples() const { return maxBufferSize; }
    std::int64_t pullCallCount() const;
    double engineSampleRate() const { return engineRateHz; }

private:
    // The render callback: pull, zero what pull left empty, apply the volume.
    void render(std::span<float> left, std::span<float> right, double hostTimeSeconds);
    // Paced take from the queues into out (out.size() frames); returns frames written, which
    // is either 0 (silence) or out.size().
    std::size_t pull(std::span<float> left, std::span<float> right, double hostTimeSeconds);

    std::unique_ptr<AudioSink> sink;
    AudioSampleRing leftBuffer;
    AudioSampleRing rightBuffer;
    mutable std::mutex lock;
    const std::size_t maxBufferSize;  // 4 s
    const double engineRateHz;
    bool hasPrebuffered = false;  // set at the first prime, never cleared
    bool hasEverPrimed = false;
    const std::size_t initialPrimeThreshold;  // 0.4 s
    const std::size_t maxRecoveryThreshold;   // 0.8 s
    std::int64_t pullCalls = 0;
    double lastPullMediaTime = 0.0;  // sink clock of the previous pull; 0 before it
    std::atomic<double> sourceRateHz{kDefaultSourceRateHz};
    std::atomic<float> mixerVolume;
};
