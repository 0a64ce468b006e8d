#pragma once

#include <functional>
#include <memory>
#include <string>

#include "CliArgs.h"
#include "control/SDRController.h"
#include "sim/SignalSource.h"

// One CLI run: the main queue, the chosen signal source and a controller over it, with a
// once-per-signal-second tick that commands use to print their lines.
class CliSession {
public:
    explicit CliSession(const CliArgs& args);
    ~CliSession();

    SDRController& controller() { return *sdrController; }
    MainQueue& queue() { return *mainQueue; }
    const SignalSource& source() const { return signalSource; }

    // Pumps the main queue until --seconds of signal time have passed (forever without it),
    // calling `tick` once per second of signal time with the IQ sample rate of that second.
    void run(const std::function<void(double samplesPerSecond)>& tick);
    // Pumps until `done` or the signal-time budget ends; true when done held.
    bool runUntil(const std::function<bool()>& done, double signalSeconds);

private:
    double speed;
    std::optional<double> seconds;
    std::shared_ptr<MainQueue> mainQueue;
    SignalSource signalSource;
    std::shared_ptr<SDRController> sdrController;
};

// Prints a JSON object as one line on standard output and flushes it.
void printJSONLine(const nlohmann::json& j);
