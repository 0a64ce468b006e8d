#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "audio/AudioTee.h"
#include "control/SDRController.h"
#include "sim/RFScene.h"
#include "sim/VirtualRtlSdr.h"

// The real controller on the simulated dongle with a null sound device that keeps what it
// plays. The test thread is the main thread; waits pump the main queue.
struct SimulatedReceiver {
    explicit SimulatedReceiver(double speed = 2.0, std::shared_ptr<RFScene> scene = nullptr,
                               std::filesystem::path documents = {});
    ~SimulatedReceiver();

    // Pumps until `done` or `signalSeconds` of signal time (samples the dongle delivered) pass;
    // true when done held. Ends early only if the dongle delivers nothing for ten seconds.
    bool waitFor(const std::function<bool()>& done, double signalSeconds);
    // Lets `signalSeconds` of signal pass while pumping.
    void run(double signalSeconds);
    // Drops what was played so far; the next capture starts fresh.
    void discardAudio();
    // The next `signalSeconds` of played audio (after any settling the caller did).
    AudioTee::Capture captureAudio(double signalSeconds);

    double speed;
    std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
    std::shared_ptr<RFScene> scene;
    std::shared_ptr<VirtualRtlSdr> dongle;
    std::shared_ptr<AudioTee> tee = std::make_shared<AudioTee>();
    std::filesystem::path documents;
    bool ownsDocuments = false;
    std::shared_ptr<SDRController> controller;
};

// Power of a tone in a real signal (Goertzel over the whole block), as mean-square amplitude.
double tonePower(std::span<const float> samples, double toneHz, double sampleRateHz);
double powerRatioDB(double a, double b);
