#pragma once

#include <cstddef>
#include <span>

#include "device/IQSample.h"

// The IQ stream as the DAB acquisition and frame loop take it: the stream's chunk queue plus
// the stop request and the tuner. Implemented by the stream session; tests script it.
class DABSampleFeed {
public:
    virtual ~DABSampleFeed() = default;
    // Takes up to out.size() of the oldest samples without waiting.
    virtual std::size_t pop(std::span<IQSample> out) = 0;
    // Blocks until a sample may be there or about 1 ms passed (a stall guard, not pacing).
    virtual void waitForSamples() = 0;
    virtual bool stopRequested() const = 0;
    // Tunes the dongle to mhz (no FM offset) and forgets what the queue holds.
    virtual void retune(double mhz) = 0;
};
