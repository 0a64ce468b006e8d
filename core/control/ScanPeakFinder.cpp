#include "control/ScanPeakFinder.h"

#include <cmath>

std::optional<ScanReading> ScanPeakFinder::step(const ScanReading& reading, bool aboveThreshold) {
    if (!aboveThreshold) return closeRun();
    if (!runPeak || reading.levelDB > runPeak->levelDB) runPeak = reading;
    return std::nullopt;
}

std::optional<ScanReading> ScanPeakFinder::finish() {
    return closeRun();
}

std::optional<ScanReading> ScanPeakFinder::closeRun() {
    const std::optional<ScanReading> peak = runPeak;
    runPeak.reset();
    if (!peak) return std::nullopt;
    // A hair of tolerance: steps are whole hertz apart, so three steps are not 2.9999 steps.
    if (lastStationMHz && std::abs(peak->frequencyMHz - *lastStationMHz) < minSpacingMHz - 1e-9)
        return std::nullopt;
    lastStationMHz = peak->frequencyMHz;
    return peak;
}
