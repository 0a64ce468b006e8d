#pragma once

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "dab/DABTypes.h"
#include "device/IQSample.h"

// Walks the Band III channels, measuring power and SNR of each, on the caller's thread (the
// controller's scan worker). Reports through hooks on that thread.
class DABBandScanner {
public:
    struct Hooks {
        std::function<std::size_t(std::span<IQSample>)> readDevice;  // non-blocking
        std::function<void(double mhz)> tuneDevice;                  // no FM offset; empties the ring
        // Before each channel: its index in the table and its label.
        std::function<void(int index, const std::string& label)> onChannel;
        // The results so far, strongest first.
        std::function<void(const std::vector<DABScanResult>&)> onResults;
    };

    // Signal discarded after each retune (the tuner settles, the ring held the old channel),
    // and signal measured: one transmission frame and a null at least.
    static constexpr std::size_t kSettleSamples = 131'072;
    static constexpr std::size_t kMeasureSamples = 200'000;

    DABBandScanner(Hooks hooks, const std::atomic<bool>& cancel);

    // Scans `channels` in order; returns the results sorted by strength, strongest first.
    std::vector<DABScanResult> run(const std::vector<DABChannel>& channels);
    // Measures one block: power and the SNR the null symbol shows.
    static DABScanResult measure(const DABChannel& channel, std::span<const IQSample> block);
    // The best channel for auto-connect: highest SNR among those with signal, first of equals.
    static const DABScanResult* bestForAutoConnect(const std::vector<DABScanResult>& sorted);

private:
    std::size_t read(std::span<IQSample> out);

    Hooks hooks;
    const std::atomic<bool>& cancel;
};
