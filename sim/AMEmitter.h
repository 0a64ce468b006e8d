#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/RFEmitter.h"
#include "sim/SimOscillator.h"

struct AMTone {
    double frequencyHz = 1'000.0;
    double amplitude = 1.0;  // share of the modulation; the tones' amplitudes should sum to <= 1
    bool operator==(const AMTone&) const = default;
};

struct AMEmitterConfig {
    double carrierHz = 118'300'000.0;
    double amplitude = 0.02;        // carrier amplitude, full-scale units at the reference gain
    double modulationDepth = 0.8;   // m: envelope = 1 + m·Σ aₖ sin(2π fₖ t)
    std::vector<AMTone> tones{{}};
};

// A double-sideband AM transmitter (airband, CB, broadcast) with a tone programme, generated
// directly at the dongle's rate. setAmplitude is safe from any thread.
class AMEmitter final : public RFEmitter {
public:
    explicit AMEmitter(const AMEmitterConfig& config);

    double carrierHz() const override { return carrier; }
    double occupiedBandwidthHz() const override { return bandwidth; }
    void render(std::span<IQSample> out, const RenderContext& ctx) override;

    void setAmplitude(double a) { amplitude.store(a, std::memory_order_relaxed); }

private:
    struct ToneOscillator {
        SimOscillator oscillator;
        double amplitude;
    };
    void configureRate(double sampleRateHz);

    const double carrier;
    const double depth;
    const std::vector<AMTone> programme;
    double bandwidth = 0.0;
    std::atomic<double> amplitude;

    double rateHz = 0.0;
    std::vector<ToneOscillator> tones;
    SimOscillator carrierOscillator;
    double offsetCyclesPerSample = 0.0;
    std::optional<std::uint64_t> expectedIndex;
};
