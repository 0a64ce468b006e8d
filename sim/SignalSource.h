#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/RTLSDRDeviceList.h"

class AudioSink;
class RtlSdrApi;

struct SignalSourceOptions {
    std::string choice = "auto";  // auto | rtlsdr | sim | rtltcp://HOST:PORT | path to a recording
    double speed = 1.0;           // pacing of the simulated world or a recording
    std::optional<double> recordingCenterMHz;
    std::optional<double> recordingSampleRateHz;  // overrides the recording's sidecar
    bool audio = true;            // false: never open the sound device; a null sink paced like the source
    DongleChoice dongle{};        // which attached dongle "rtlsdr" and "auto" open
    std::string audioDevice{};    // the sound device by name; empty: the default
};

// What a front end hands the controller: the dongle factory, the sound device factory, the
// silent sink paced like the source (the fallback when the sound device cannot start), and a
// plain description for the header ("Simulated dongle" when no dongle is attached).
struct SignalSource {
    std::function<std::shared_ptr<RtlSdrApi>()> dongle;
    std::function<std::unique_ptr<AudioSink>(double rate)> audio;
    std::function<std::unique_ptr<AudioSink>(double rate)> silentAudio;
    std::string description;
    bool isSimulated = false;
};

// Throws std::invalid_argument for an unknown choice, an unreadable recording or a malformed
// rtl_tcp address.
SignalSource makeSignalSource(const SignalSourceOptions& options);
