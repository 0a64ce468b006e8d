#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/AudioSink.h"

// The default output device through PortAudio: a stereo float32 non-interleaved stream
// (paNonInterleaved, one buffer per channel) at the requested rate, or at the device's
// default rate when it refuses the requested one (AudioOutput resamples to whichever it is).
// Periods of about 10 ms.
// PortAudio is initialised for the life of the object and terminated after it.
// Thread safety: start/stop from one owner thread; render runs on PortAudio's thread.
class PortAudioSink final : public AudioSink {
public:
    // Initialises PortAudio; throws AudioError initializeFailed("PortAudio: ..."). A named
    // output device that is not there falls back to the default one (logged).
    explicit PortAudioSink(double sampleRateHz, std::string deviceName = {});
    ~PortAudioSink() override;
    PortAudioSink(const PortAudioSink&) = delete;
    PortAudioSink& operator=(const PortAudioSink&) = delete;

    // Throws AudioError noOutputDevice, formatCreationFailed or engineStartFailed.
    void start(RenderCallback render) override;
    void stop() override;
    bool isRunning() const override;

    // The names of the devices that can play stereo, for a settings list. Empty when PortAudio
    // cannot start or finds none. Walks the sound system: call it when the list is shown.
    static std::vector<std::string> outputDeviceNames();
    double deviceSampleRate() const override { return streamRateHz; }

private:
    struct Library {
        Library();
        ~Library();
        Library(const Library&) = delete;
        Library& operator=(const Library&) = delete;
    };
    struct StreamCloser {
        void operator()(void* stream) const noexcept;
    };
    struct Trampoline;  // PortAudio's C callback, defined with PortAudio's types

    Library library;  // first: initialised before, and terminated after, the stream
    double requestedRateHz;
    std::string deviceName;  // empty: the default output
    double streamRateHz;
    RenderCallback renderCallback;
    std::unique_ptr<void, StreamCloser> stream;
};
