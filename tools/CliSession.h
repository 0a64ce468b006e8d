#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "CliArgs.h"
#include "control/SDRController.h"
#include "feeds/RigctlServer.h"
#include "feeds/MQTTFeed.h"
#include "sim/SignalSource.h"

// One CLI run: the main queue, the chosen signal source and a controller over it, with a
// once-per-signal-second tick that commands use to print their lines.
//
// Signal time is the IQ the receiver has processed, counted in samples at the controller's
// sample rate, never the wall clock: a recording replayed at any speed gives the same lines
// for the same signal, and --seconds S ends after exactly S seconds of it.
class CliSession {
public:
    // `audioTap`, when given, receives every block of audio the receiver produces. Without
    // `playsSound` the sound device is never opened: the null sink paces the audio.
    CliSession(const CliArgs& args, bool playsSound, AudioTap audioTap = {}, DABAudioTap dabAudioTap = {});
    ~CliSession();

    SDRController& controller() { return *sdrController; }
    const std::shared_ptr<SDRController>& sharedController() const { return sdrController; }
    MainQueue& queue() { return *mainQueue; }
    // Running when --mqtt was given.
    MQTTFeed& mqtt() { return *mqttFeed; }
    const SignalSource& source() const { return signalSource; }
    // The rig control server, when --rigctl-port asked for one.
    const RigctlServer* rigctl() const { return rigctlServer.get(); }

    // Pumps the main queue until --seconds of signal have been processed (forever without
    // it), calling `tick` after each further second of signal (and at the end of a final
    // part second) with the IQ sample rate the source delivered in it. Ends early, saying so
    // on standard error, when the source stops delivering.
    void run(const std::function<void(double samplesPerSecond)>& tick);
    // Pumps until `done` or `signalSeconds` more of signal; true when done held.
    bool runUntil(const std::function<bool()>& done, double signalSeconds);
    // Signal seconds left of --seconds (an hour without it).
    double signalSecondsLeft() const;
    double audioRate() const { return 51'200.0; }

private:
    enum class Wait { reached, done, stalled };
    // Pumps until `processed` samples have been processed or `done` holds.
    Wait pumpUntil(std::uint64_t processed, const std::function<bool()>& done);
    double processedSeconds() const;

    std::optional<double> seconds;
    std::shared_ptr<MainQueue> mainQueue;
    SignalSource signalSource;
    std::shared_ptr<SDRController> sdrController;
    std::unique_ptr<RigctlServer> rigctlServer;  // with --rigctl-port
    std::unique_ptr<MQTTFeed> mqttFeed;
};

// Prints a JSON object as one line on standard output and flushes it.
void printJSONLine(const nlohmann::json& j);
