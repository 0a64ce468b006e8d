#pragma once

#include <atomic>

#include "sim/RFEmitter.h"
#include "sim/SimOscillator.h"

struct CarrierEmitterConfig {
    double frequencyHz = 145'000'000.0;
    double amplitude = 0.01;  // full-scale units at the reference gain
    double initialPhaseRad = 0.0;
};

// An unmodulated carrier (CW). Renders amplitude·e^{j(2π·offset·t + φ)}, phase-continuous across
// blocks and retunes. setAmplitude is safe from any thread.
class CarrierEmitter final : public RFEmitter {
public:
    explicit CarrierEmitter(const CarrierEmitterConfig& config);

    double carrierHz() const override { return frequencyHz; }
    double occupiedBandwidthHz() const override { return 0.0; }
    void render(std::span<IQSample> out, const RenderContext& ctx) override;

    void setAmplitude(double a) { amplitude.store(a, std::memory_order_relaxed); }

private:
    const double frequencyHz;
    std::atomic<double> amplitude;
    SimOscillator oscillator;
    double cyclesPerSample = 0.0;
};
