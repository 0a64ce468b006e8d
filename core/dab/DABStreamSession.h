#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "dab/DABAcquisition.h"
#include "dab/DABAudioChain.h"
#include "dab/DABTypes.h"
#include "device/IQChunkQueue.h"

// What a frame of the running stream reports for display.
struct DABFrameReport {
    std::vector<DABConstellationPoint> constellation;
    int cifCounter = 0;
    int ficCRCCount = 0;   // good FIBs of the last frame, 0..12
    double freqOffsetHz = 0.0;
};

// One DAB stream: the "DABIQReader" pump moves the dongle's IQ into the stream's chunk queue,
// the "DABStreamLoop" thread acquires the ensemble and then follows it frame by frame.
// Everything is reported through the hooks, on the stream thread; the owner turns reports
// into main-thread assignments. Public calls are for the owner's thread.
class SerialQueue;

class DABStreamSession {
public:
    struct Hooks {
        // Non-blocking read from the dongle's ring.
        std::function<std::size_t(std::span<IQSample>)> readDevice;
        // Tunes the dongle (no FM offset) and empties its ring.
        std::function<void(double mhz)> tuneDevice;
        std::function<bool()> receiverRunning;
        // Each pumped block (recording, displays); runs on the pump thread.
        std::function<void(std::span<const IQSample>)> onPumpBlock;
        // A recording waits for its reader: the pump then holds back rather than read ahead,
        // and no audio is skipped to catch up.
        bool sourceWaitsForReader = false;
        // Where the audio sub-channel's Viterbi, superframes and AAC run; none: no audio.
        SerialQueue* mscQueue = nullptr;
        DABAudioChain::Hooks audio;
        // Where the ensemble's data service (the station logo's MOT carousel) is decoded, and
        // where logos are stored; none: not decoded.
        SerialQueue* epgQueue = nullptr;
        std::filesystem::path logoDirectory;
        // A station logo was stored (on the EPG queue): the data service's SId and the file.
        std::function<void(std::uint32_t sid, const std::filesystem::path& path)> onLogo;

        std::function<void(const std::string&)> onStatus;
        std::function<void(const DABAcquisitionResult&)> onAcquired;
        std::function<void(const DABEnsembleInfo&)> onEnsemble;
        std::function<void(const DABFrameReport&)> onFrame;
        std::function<void(double mhz)> onRetuned;
        // The stream ended: the last status, and whether the initial acquisition gave up.
        std::function<void(const std::string& status, bool gaveUp)> onFinished;
    };
    struct StartState {
        double frequencyMHz = 0.0;
        double lastFreqOffsetHz = 0.0;
        std::optional<std::uint32_t> selectedServiceId;
    };

    explicit DABStreamSession(Hooks hooks);
    ~DABStreamSession();  // requests a stop and joins
    DABStreamSession(const DABStreamSession&) = delete;
    DABStreamSession& operator=(const DABStreamSession&) = delete;

    void start(const StartState& state);
    void requestStop() { stopFlag = true; }
    bool stopRequested() const { return stopFlag.load(); }
    // Switches to the service's sub-channel at the next frame.
    void selectService(std::uint32_t serviceId);
    void join();

    // Initial acquisition attempts after the probe, and the refinement window of the loop.
    static constexpr int kFullAttempts = 11;
    static constexpr int kFailuresBeforeReacquire = 40;

private:
    class Feed;
    void loop(StartState state);
    void pump();
    std::optional<DABAcquisitionResult> acquireInitial(DABAcquirer& acquirer, DABAcquirer::Inputs& in,
                                                       bool& gaveUp);
    std::optional<DABAcquisitionResult> reacquire(DABAcquirer& acquirer, DABAcquirer::Inputs& in);
    void status(const std::string& text);

    Hooks hooks;
    std::unique_ptr<IQChunkQueue> queue;
    std::unique_ptr<Feed> feed;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> pumpStop{false};
    std::atomic<bool> forceServiceSwitch{false};
    std::mutex selectionLock;
    std::optional<std::uint32_t> requestedService;  // guarded by selectionLock
    std::thread streamThread;
    std::thread pumpThread;
};
