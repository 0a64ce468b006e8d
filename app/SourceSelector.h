#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sim/SignalSource.h"

class AudioSink;
class RtlSdrApi;

// Which signal source feeds the receiver, switchable while the window runs. The controller
// gets factories that ask this object for the current source at every start. Main thread.
class SourceSelector {
public:
    enum class Kind { dongle, simulated, network, file };

    // Throws std::invalid_argument like makeSignalSource for an unknown choice or bad file.
    explicit SourceSelector(SignalSourceOptions initial);

    // Replaces the source (the caller restarts the receiver); throws as the constructor does
    // and keeps the previous source then.
    void choose(SignalSourceOptions options);

    std::function<std::shared_ptr<RtlSdrApi>()> dongleFactory();
    std::function<std::unique_ptr<AudioSink>(double rate)> audioFactory();
    std::function<std::unique_ptr<AudioSink>(double rate)> silentAudioFactory();

    Kind kind() const { return currentKind; }
    const SignalSourceOptions& options() const { return currentOptions; }
    // The plain description of the source ("Simulirani prijemnik (demo)", "Snimka: x.cu8").
    const std::string& description() const { return current->description; }
    // The header's two device lines: "RTL-SDR USB v4" / "R828D Tuner" for the dongle,
    // "Simulated dongle" or the recording's file name otherwise.
    std::string deviceLine() const;
    std::string tunerLine() const;

private:
    SignalSourceOptions currentOptions;
    // Shared with the factories, which read it at every start.
    std::shared_ptr<SignalSource> current;
    Kind currentKind = Kind::simulated;
};
