#pragma once

#include <atomic>
#include <complex>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "sim/RFEmitter.h"
#include "sim/SimFMModulator.h"
#include "sim/SimInterpolator.h"
#include "sim/SimOscillator.h"

struct FMTone {
    double frequencyHz = 1'000.0;
    double amplitude = 0.5;  // 1.0 = the channel at full modulation, before pre-emphasis
    bool operator==(const FMTone&) const = default;
};

// Programme audio as a sum of tones per channel.
struct FMProgramme {
    std::vector<FMTone> left;
    std::vector<FMTone> right;
    bool isStereo = true;  // false: mono (L+R)/2, no pilot, no difference signal
    bool operator==(const FMProgramme&) const = default;
};

struct FMBroadcastConfig {
    double carrierHz = 92'100'000.0;
    double amplitude = 0.05;                // full-scale units at the reference gain
    double peakDeviationHz = 75'000.0;      // multiplex value 1.0
    double pilotInjection = 0.09;           // pilot share of the peak deviation (stereo only)
    double preEmphasisMicroseconds = 50.0;  // 0 turns pre-emphasis off
    FMProgramme programme;
};

// One block of the multiplex as a subcarrier source sees it.
struct FMMultiplexBlock {
    double sampleRateHz = 256'000.0;
    std::uint64_t sampleIndex = 0;  // multiplex-rate index of the block's first sample
    // Pilot phase θ per sample, in [0, 2π): the pilot is sin θ, the stereo subcarrier sin 2θ;
    // a 57 kHz subcarrier locks to 3θ.
    std::span<const double> pilotPhaseRad;
};

// Adds extra multiplex content (same units: 1.0 = peak deviation) at the multiplex rate.
// Runs on the rendering thread under the emitter's lock: it must not call the emitter's setters.
using FMSubcarrierSource =
    std::function<void(std::span<float> multiplex, const FMMultiplexBlock& block)>;

// A wide-band FM broadcast station. The stereo multiplex, ITU-R BS.450:
//   m = (1 - p)·[(L+R)/2 + (L-R)/2·sin 2θ] + p·sin θ,  pilot θ = 2π·19 kHz·t,
// with L and R pre-emphasised (50 µs) before matrixing; mono is m = (L+R)/2. The multiplex is
// generated at 256,000 samples/s (a fixed fraction of the dongle rate), interpolated ×8 with
// an image-free filter, and frequency-modulates the carrier at the dongle's rate by phasor
// recurrence. Setters are safe from any thread; they take a mutex that render() holds once
// per block.
class FMBroadcastEmitter final : public RFEmitter {
public:
    static constexpr double kPilotHz = 19'000.0;
    static constexpr double kMultiplexRateHz = 256'000.0;  // nominal, at 2,048,000 samples/s
    static constexpr std::size_t kBatchSamples = 256;     // multiplex samples per generation

    explicit FMBroadcastEmitter(const FMBroadcastConfig& config);
    FMBroadcastEmitter(const FMBroadcastEmitter&) = delete;
    FMBroadcastEmitter& operator=(const FMBroadcastEmitter&) = delete;

    double carrierHz() const override { return carrier; }
    double occupiedBandwidthHz() const override { return bandwidth.load(std::memory_order_relaxed); }
    void render(std::span<IQSample> out, const RenderContext& ctx) override;

    void setProgramme(const FMProgramme& programme);
    void setSubcarrierSource(FMSubcarrierSource source);
    void setAmplitude(double a) { amplitude.store(a, std::memory_order_relaxed); }

    // The multiplex rate at a dongle rate: the interpolation factor is the integer nearest
    // rate / 256,000 (8 at 2,048,000 samples/s).
    static int interpolationFactor(double sampleRateHz);

private:
    struct ToneOscillator {
        SimOscillator oscillator;
        double amplitude;
    };

    void configureRate(double sampleRateHz);
    void buildTones();
    void updateBandwidth();
    void generateBatch();
    void skipAhead(std::uint64_t outputSamples);

    const double carrier;
    const double peakDeviationHz;
    const double pilotInjection;
    const double preEmphasisMicroseconds;
    std::atomic<double> amplitude;
    std::atomic<double> bandwidth{0.0};

    std::mutex configMutex;  // guards programme and subcarrier; held by render() per block
    FMProgramme programme;
    FMSubcarrierSource subcarrier;
    bool programmeChanged = true;

    double outputRateHz = 0.0;
    double multiplexRateHz = 0.0;
    int factor = 1;
    std::optional<SimInterpolator> interpolator;
    std::vector<ToneOscillator> leftTones, rightTones;
    SimOscillator pilot;
    double preEmphasisPole = 0.0;  // x[n] - a·x[n-1], scaled by 1/(1 - a) for unity DC gain
    float prevLeft = 0.0f, prevRight = 0.0f;
    std::uint64_t multiplexIndex = 0;

    std::vector<float> leftBlock, rightBlock, multiplex;
    std::vector<double> pilotPhase;
    std::vector<float> frequency;  // interpolated multiplex at the output rate
    std::size_t pendingPos = 0;    // next unused prepared rotation of the modulator

    double radiansPerUnit = 0.0;   // peak deviation as a phase step at the output rate
    std::optional<SimFMModulator> modulator;
    std::optional<std::uint64_t> expectedIndex;
};
