#pragma once

#include <optional>
#include <span>

#include "dab/DABTypes.h"
#include "device/IQSample.h"

// Frame timing and fractional carrier offset of a mode I signal. Stateless; any thread.
class DABSynchronizer {
public:
    using LockInfo = DABLockInfo;
    struct FreqLockInfo {
        double offsetHz = 0.0;     // fractional carrier offset, ±500 Hz
        float correlation = 0.0f;  // normalised cyclic-prefix correlation, 0..1
        int lagSamples = 0;        // symbolStart - near
        int symbolStart = 0;       // where the symbol (its guard) starts
    };

    // The quietest 2656-sample window of the block; absent for 12,864 samples or fewer.
    std::optional<LockInfo> findNull(std::span<const IQSample> in) const;
    // Guard-interval correlation over starts near ± search (cut to the block).
    std::optional<FreqLockInfo> estimateFrequencyOffset(std::span<const IQSample> samples, int near,
                                                        int search) const;
};
