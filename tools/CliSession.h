#pragma once

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <memory>
#include <string>

#include "CliArgs.h"
#include "control/SDRController.h"
#include "audio/AudioTee.h"
#include "sim/SignalSource.h"

// One CLI run: the main queue, the chosen signal source and a controller over it, with a
// once-per-signal-second tick that commands use to print their lines.
class CliSession {
public:
    // `tee`, when given, receives every frame the sound device (or the null sink) plays.
    // Without `playsSound` the sound device is never opened: the null sink paces the audio.
    explicit CliSession(const CliArgs& args, bool playsSound, std::shared_ptr<AudioTee> tee = nullptr);
    ~CliSession();

    SDRController& controller() { return *sdrController; }
    const std::shared_ptr<SDRController>& sharedController() const { return sdrController; }
    MainQueue& queue() { return *mainQueue; }
    const SignalSource& source() const { return signalSource; }

    // Pumps the main queue until --seconds of signal time have passed (forever without it),
    // calling `tick` once per second of signal time with the IQ sample rate of that second.
    void run(const std::function<void(double samplesPerSecond)>& tick);
    // Pumps until `done` or the signal-time budget ends; true when done held.
    bool runUntil(const std::function<bool()>& done, double signalSeconds);
    // Signal seconds left of --seconds (an hour without it).
    double signalSecondsLeft() const;
    double audioRate() const { return 51'200.0; }

private:
    double speed;
    std::optional<double> seconds;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::shared_ptr<MainQueue> mainQueue;
    SignalSource signalSource;
    std::shared_ptr<SDRController> sdrController;
};

// Prints a JSON object as one line on standard output and flushes it.
void printJSONLine(const nlohmann::json& j);
