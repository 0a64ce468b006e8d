#pragma once

#include <cstdint>
#include <span>

#include "device/IQSample.h"

// What an emitter needs to know to render one block as the dongle sees it.
struct RenderContext {
    double sampleRateHz = 2'048'000.0;
    // Carrier minus tuned centre as it appears in the dongle's baseband, crystal error included.
    double offsetHz = 0.0;
    // Index of out[0] on the dongle's sample clock; consecutive blocks are contiguous.
    std::uint64_t sampleIndex = 0;
    // The dongle's residual crystal error (crystal minus correction, ppm). Its sample clock runs
    // fast by this much, so a transmitter's symbols arrive stretched by 1/(1 + ppm·1e-6) samples.
    double clockErrorPPM = 0.0;
};

// A transmitter in the simulated world. render() ADDS the emitter's complex baseband to `out`,
// in full-scale units at the reference tuner gain. Each emitter runs its own programme clock:
// consecutive renders are phase-continuous whatever the block sizes; when sampleIndex jumps
// ahead (the emitter was out of band), the programme skips forward to keep pace with time.
// Emitters are rendered by one thread at a time (the scene's); their setters are safe from
// any thread unless stated otherwise.
class RFEmitter {
public:
    virtual ~RFEmitter() = default;
    virtual double carrierHz() const = 0;
    virtual double occupiedBandwidthHz() const = 0;
    virtual void render(std::span<IQSample> out, const RenderContext& ctx) = 0;
};
