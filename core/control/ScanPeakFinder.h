#pragma once

#include <optional>

#include "control/LevelScale.h"

// The level the band scan measured at one step.
struct ScanReading {
    double frequencyMHz = 0.0;
    float levelDB = kMinLevelDBFS;  // strongest bin within half a step of the frequency, dBFS
    bool operator==(const ScanReading&) const = default;
};

// Turns the readings of consecutive scan steps into stations. A wide station's skirt already
// rises above the detection threshold one or two steps before its carrier, so the first step
// above the threshold is often beside the station: among consecutive steps above the
// threshold the strongest one is the station, known once the run ends. A run whose peak lies
// closer than `minSpacingMHz` to the previous station is that station again and is dropped.
// Plain value object; one scan at a time.
class ScanPeakFinder {
public:
    explicit ScanPeakFinder(double minSpacingMHz) : minSpacingMHz(minSpacingMHz) {}

    // The next step's reading; `aboveThreshold` says whether it stands out from the noise.
    // Returns the station that a step below the threshold ends, if any.
    std::optional<ScanReading> step(const ScanReading& reading, bool aboveThreshold);
    // The band has ended: the station of a run still open at its edge, if any.
    std::optional<ScanReading> finish();

private:
    std::optional<ScanReading> closeRun();

    double minSpacingMHz;
    std::optional<ScanReading> runPeak;  // strongest step of the open run
    std::optional<double> lastStationMHz;
};
