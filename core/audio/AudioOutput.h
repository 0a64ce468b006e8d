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

#include "audio/AudioDriftCorrector.h"
#include "audio/AudioPlaybackResampler.h"
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
    // Copies the oldest out.size() samples (out.size() <= size()) without removing them.
    void copyOldest(std::span<float> out) const;
    void discard(std::size_t samples);

private:
    std::vector<float> storage;
    std::size_t head = 0;  // slot of the oldest sample
    std::size_t count = 0;
};

// Plays the receiver's audio. Producers (the analog loop, the DAB audio path) push left and
// right float blocks at the source rate; the sink's real-time thread pulls periods of frames
// at the device rate. Between them: two queues of at most 4 s each (oldest dropped), a 0.4 s
// prime, and a band-limited resampler at the fixed ratio source rate / device rate.
//
// The ratio never follows the callback clock, so callback jitter cannot move the pitch. Only
// a slow correction of at most ±0.5 % (AudioDriftCorrector, time constant of seconds) keeps
// the queue at 0.4 s when producer and device clocks differ. When the queue cannot cover a
// callback, the frames it can cover play, the rest is silence and playback waits for the
// prime again rather than stretching what is left. A queue beyond 0.8 s (a device stall, a
// burst) is cut back to 0.4 s at once, oldest first. The volume is applied last.
//
// Thread safety: push, pushStereo, setVolume, setSourceRate and the observers may be called
// from any thread; pushes and the real-time pull meet under one mutex, held only for the
// copy and the resampling of one period. The pull neither allocates nor frees. start,
// replaceSink and isEngineRunning belong to the owner's thread. The sink is stopped (and its
// thread finished) before the object goes away.
class AudioOutput {
public:
    using SinkFactory = std::function<std::unique_ptr<AudioSink>(double rateHz)>;

    // Creates the sink for `sampleRateHz` (the rate asked of the device, and the source rate
    // until setSourceRate) through `makeSink`. Throws AudioError
    // formatCreationFailed("Ne mogu kreirati audio format") for a rate that is not positive,
    // noOutputDevice when the factory returns no sink, and whatever the factory throws.
    AudioOutput(double sampleRateHz, float volume, const SinkFactory& makeSink);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Starts the sink; throws AudioError when it cannot start.
    void start();
    // Swaps the running sink for one from `makeSink`, keeping what is queued. Throws
    // AudioError (noOutputDevice for no sink) and then keeps playing on the old sink.
    void replaceSink(const SinkFactory& makeSink);

    // Queues the same samples on both channels.
    void push(std::span<const float> samples);
    // Queues left and right; an absent right queues left on both channels. The two blocks may
    // differ in length: each queue is appended and trimmed to 4 s on its own.
    void pushStereo(std::span<const float> left,
                    std::optional<std::span<const float>> right = std::nullopt);

    // Final mix gain, applied to every rendered frame (1 = unity).
    void setVolume(float volume);
    float volume() const { return mixerVolume.load(std::memory_order_relaxed); }
    // The rate of the samples being pushed (51,200 for the analog loop, the decoder's output
    // rate for DAB+). A change redesigns the resampler outside the lock; cheap when unchanged.
    void setSourceRate(double samplesPerSecond);
    double sourceRate() const { return sourceRateHz.load(std::memory_order_relaxed); }

    bool isEngineRunning() const;
    std::size_t bufferedSampleCount() const;
    // True once the prime was first reached.
    bool hasStartedPlayback() const;
    // False while priming (at first, and again after an underrun).
    bool isPlaying() const;
    std::size_t pacingHighWaterMark() const { return maxRecoveryThreshold; }
    std::size_t maxQueuedSamples() const { return maxBufferSize; }
    std::int64_t pullCallCount() const;
    std::int64_t underrunCount() const;
    // The drift correction in use (fraction of the nominal ratio, within ±0.005).
    double rateCorrection() const;
    double engineSampleRate() const { return engineRateHz; }

private:
    AudioSink::RenderCallback renderCallback();
    // Starts `s`, then fits the resampler to the rate it actually runs at.
    void startSink(AudioSink& s);
    void installResampler(double sourceHz, double deviceHz);
    // The render callback: pull, zero what pull left empty, apply the volume.
    void render(std::span<float> left, std::span<float> right);
    // Resampled frames into the front of left/right; returns how many (the rest is silence).
    std::size_t pull(std::span<float> left, std::span<float> right);
    void resample(std::size_t frames, std::span<float> left, std::span<float> right);

    std::unique_ptr<AudioSink> sink;
    AudioSampleRing leftBuffer;
    AudioSampleRing rightBuffer;
    mutable std::mutex lock;
    std::mutex configLock;  // orders start, replaceSink and setSourceRate; never taken by the pull
    const std::size_t maxBufferSize;  // 4 s
    const double engineRateHz;
    bool hasPrebuffered = false;  // playing; cleared by an underrun
    bool hasEverPrimed = false;
    const std::size_t initialPrimeThreshold;  // 0.4 s
    const std::size_t maxRecoveryThreshold;   // 0.8 s
    std::int64_t pullCalls = 0;
    std::int64_t underruns = 0;
    double deviceRateHz = 0.0;                  // of the running sink; 0 before start
    std::unique_ptr<AudioPlaybackResampler> resampler;  // null until the sink runs: silence
    AudioDriftCorrector drift;
    std::vector<float> scratchLeft, scratchRight;  // one chunk of input, sized at construction
    std::atomic<double> sourceRateHz;
    std::atomic<float> mixerVolume;
};
