#pragma once

#include <functional>
#include <span>

// The audio device seam: a sink owns the device stream and, from the stream's own real-time
// thread, asks its render callback for each period of non-interleaved stereo float32 frames.
// Implementations: PortAudioSink (the default output device), NullAudioSink (a paced timer
// thread, for tests and headless runs), and fakes in tests that call render themselves.
class AudioSink {
public:
    // Fills `left` and `right` (equal length: the period's frame count). `hostTimeSeconds` is
    // the sink's clock for this period, monotonic, in seconds, for diagnostics: AudioOutput
    // paces by frame counts, because a callback's timing jitters and its frames do not.
    // Runs on the sink's thread; must not throw.
    using RenderCallback =
        std::function<void(std::span<float> left, std::span<float> right, double hostTimeSeconds)>;

    virtual ~AudioSink() = default;

    // Opens and starts the stream at the rate the sink was made for; `render` is called from
    // then on until stop(). Throws AudioError when the device cannot start.
    virtual void start(RenderCallback render) = 0;
    // Stops the stream. When it returns no render call is running or will run. Idempotent.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // Rate the device stream actually runs at (may differ from the requested one).
    virtual double deviceSampleRate() const = 0;
};
