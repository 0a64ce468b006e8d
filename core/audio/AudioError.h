#pragma once

#include <string>

// Failure of the audio engine, thrown by AudioOutput's construction and start() and by the
// sinks. The controller shows it as "Greška: " + describe().
struct AudioError {
    enum class Kind {
        initializeFailed,      // the audio library could not be initialised
        formatCreationFailed,  // no stream format for the requested rate
        noOutputDevice,        // the system has no default output device
        engineStartFailed,     // opening or starting the device stream failed
    };
    Kind kind = Kind::engineStartFailed;
    std::string message;  // the library's own text, e.g. "PortAudio: Invalid device"

    // Case name and payload, e.g. engineStartFailed("PortAudio: Invalid device"); a case
    // without a message is written as its bare name.
    std::string describe() const;
    bool operator==(const AudioError&) const = default;
};
