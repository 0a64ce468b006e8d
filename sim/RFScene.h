#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "device/IQSample.h"
#include "sim/RFEmitter.h"
#include "sim/SimUnits.h"

struct RFSceneConfig {
    // Complex rms of the band noise at the reference gain (full-scale units). The scene itself
    // renders signals only; the receiver model adds this noise with its own in one draw.
    double noiseFloorRms = 0.0;
    // The dongle's oscillator error: every emitter appears shifted by -crystalPPM·1e-6·f_carrier
    // unless the frequency correction is set to the same value.
    double crystalPPM = 0.0;
};

// The simulated band: a set of emitters, the band noise level and the dongle's crystal error.
// render() fills a block with every emitter that reaches the tuned passband. Thread safety:
// add or remove emitters at any time; render() takes the scene's mutex once per block, so a
// change lands at a block boundary. Emitters are shared and must not be in two scenes.
class RFScene {
public:
    explicit RFScene(RFSceneConfig config = {});
    RFScene(const RFScene&) = delete;
    RFScene& operator=(const RFScene&) = delete;

    void addEmitter(std::shared_ptr<RFEmitter> emitter);
    void removeEmitter(const std::shared_ptr<RFEmitter>& emitter);
    std::vector<std::shared_ptr<RFEmitter>> emitters() const;

    double noiseFloorRms() const { return noiseFloor.load(std::memory_order_relaxed); }
    void setNoiseFloorRms(double rms) { noiseFloor.store(rms, std::memory_order_relaxed); }
    double crystalPPM() const { return crystal.load(std::memory_order_relaxed); }
    void setCrystalPPM(double ppm) { crystal.store(ppm, std::memory_order_relaxed); }

    // Where an emitter at carrierHz lands in the baseband of a dongle tuned to tunedCenterHz
    // with the given frequency correction. The sample clock shares the crystal, so the whole
    // spectrum scales: offset = f·(1 - (crystal - correction)·1e-6) - centre.
    double basebandOffsetHz(double carrierHz, double tunedCenterHz, double correctionPPM) const;

    // Overwrites `out` with the sum of every emitter whose band reaches the tuned passband
    // (|offset| <= sampleRate/2 + bandwidth/2). sampleIndex is out[0]'s index on the dongle's clock.
    void render(std::span<IQSample> out, double tunedCenterHz, double correctionPPM,
                std::uint64_t sampleIndex, double sampleRateHz = kSimSampleRateHz);

private:
    mutable std::mutex mutex;  // guards emitterList; held for one render or one edit
    std::vector<std::shared_ptr<RFEmitter>> emitterList;
    std::atomic<double> noiseFloor;
    std::atomic<double> crystal;
};
