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

// Fills `audio` with the next samples at sampleRateHz (51,200 at the dongle's 2,048,000
// samples/s), -1..+1 = ± peak deviation. Runs on the rendering thread, also while unkeyed,
// so the source's own clock keeps running.
using NBFMAudioSource = std::function<void(std::span<float> audio, double sampleRateHz)>;

struct NBFMEmitterConfig {
    double carrierHz = 144'800'000.0;
    double amplitude = 0.02;         // full-scale units at the reference gain
    double peakDeviationHz = 5'000.0;
    double audioBandwidthHz = 5'000.0;
    bool isKeyed = true;             // transmitter on; silent audio gives an idle carrier
};

// A narrow-band FM transmitter (amateur, utility) whose audio comes from a pluggable source.
// The audio is interpolated to the dongle's rate and frequency-modulates the carrier; keying
// ramps the carrier over 1 ms so switching does not splatter. Setters are safe from any thread.
class NBFMEmitter final : public RFEmitter {
public:
    static constexpr double kAudioRateHz = 51'200.0;  // nominal, at 2,048,000 samples/s
    static constexpr std::size_t kBatchSamples = 64;  // audio samples per generation

    explicit NBFMEmitter(const NBFMEmitterConfig& config);
    NBFMEmitter(const NBFMEmitter&) = delete;
    NBFMEmitter& operator=(const NBFMEmitter&) = delete;

    double carrierHz() const override { return carrier; }
    double occupiedBandwidthHz() const override { return 2.0 * (peakDeviationHz + audioBandwidthHz); }
    void render(std::span<IQSample> out, const RenderContext& ctx) override;

    void setAudioSource(NBFMAudioSource source);
    void setKeyed(bool keyed) { keyedFlag.store(keyed, std::memory_order_relaxed); }
    bool isKeyed() const { return keyedFlag.load(std::memory_order_relaxed); }
    void setAmplitude(double a) { amplitude.store(a, std::memory_order_relaxed); }

    static int interpolationFactor(double sampleRateHz);

private:
    void configureRate(double sampleRateHz);
    void generateBatch();

    const double carrier;
    const double peakDeviationHz;
    const double audioBandwidthHz;
    std::atomic<double> amplitude;
    std::atomic<bool> keyedFlag;

    std::mutex sourceMutex;  // guards source; held by render() per block
    NBFMAudioSource source;

    double outputRateHz = 0.0;
    double audioRateHz = 0.0;
    std::optional<SimInterpolator> interpolator;
    std::vector<float> audio;
    std::vector<float> frequency;  // interpolated audio at the output rate
    std::size_t pendingPos = 0;
    double keyLevel = 0.0;         // carrier envelope during keying ramps, 0..1
    double keyStep = 0.0;          // ramp per output sample

    double radiansPerUnit = 0.0;
    std::optional<SimFMModulator> modulator;
};
