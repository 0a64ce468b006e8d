#pragma once

#include <atomic>
#include <complex>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/DABPlusToneSource.h"
#include "sim/DABTransmitter.h"
#include "sim/MOTTxObject.h"
#include "sim/RFEmitter.h"
#include "sim/SimFractionalInterpolator.h"
#include "sim/SimOscillator.h"

// A second propagation path: a reflection arriving later, weaker and with its own carrier phase.
struct DABEcho {
    double delayUs = 3.5;  // well inside the 246 µs guard interval
    double levelDB = -8.0;
    double phaseRad = 2.1;
};

// What an EEP-A audio sub-channel plays; sub-channels without one carry padding.
struct DABEmitterProgramme {
    int subchannelId = 0;
    DABPlusToneProgramme programme;
    std::optional<DABTxPADCarouselConfig> pad;  // dynamic label and slideshow in its AUs
    bool operator==(const DABEmitterProgramme&) const = default;
};

// The ensemble's data service as a MOT carousel in directory mode on its packet sub-channel.
struct DABEmitterMOTCarousel {
    std::vector<MOTTxObject> objects;
    std::uint16_t directoryTransportId = 0xD1;
    std::size_t segmentBytes = 1024;
    bool operator==(const DABEmitterMOTCarousel&) const = default;
};

struct DABEmitterConfig {
    double carrierHz = 227'360'000.0;  // Band III 12C
    // Complex rms of the OFDM symbols (direct path), full-scale units at the reference gain.
    double amplitude = 0.05;
    DABTxEnsemble ensemble;
    std::optional<DABEcho> echo = DABEcho{};
    std::vector<DABEmitterProgramme> programmes;  // encoded once, at construction
    std::optional<DABEmitterMOTCarousel> dataCarousel;  // needs ensemble.dataService
};

// A DAB mode I ensemble on its Band III carrier as the dongle sees it: the transmitter's frames
// (generated at exactly 2,048,000 samples/s) are read through a windowed-sinc interpolator at the
// dongle's clock, which runs fast by the residual crystal error, summed with a delayed echo and
// mixed to the offset. Phase- and timing-continuous across blocks; a jump in sampleIndex skips
// whole frames. setAmplitude is safe from any thread; transmitter() only before rendering starts.
class DABEmitter final : public RFEmitter {
public:
    static constexpr double kTransmitRateHz = 2'048'000.0;
    static constexpr double kOccupiedBandwidthHz = 1'536'000.0;

    explicit DABEmitter(const DABEmitterConfig& config);

    double carrierHz() const override { return carrier; }
    double occupiedBandwidthHz() const override { return kOccupiedBandwidthHz; }
    void render(std::span<IQSample> out, const RenderContext& ctx) override;

    void setAmplitude(double a) { amplitude.store(a, std::memory_order_relaxed); }
    // For sub-channel sources; not while render() may run.
    DABTransmitter& transmitter() { return tx; }

private:
    static constexpr std::size_t kChunkSamples = 16'384;
    void addDataCarousel(const DABEmitterConfig& config);
    void renderChunk(std::span<IQSample> out, std::uint64_t firstIndex, double txPerSample);
    // Makes tx hold transmitter samples [lo, hi).
    void ensureSamples(std::int64_t lo, std::int64_t hi);

    const double carrier;
    std::atomic<double> amplitude;
    const std::optional<DABEcho> echo;
    std::complex<float> echoGain;
    double echoDelaySamples = 0.0;  // on the transmitter's clock

    DABTransmitter tx;
    SimFractionalInterpolator interpolator;
    std::vector<std::complex<float>> txSamples;  // transmitter samples from txStart on
    std::int64_t txStart = 0;
    std::int64_t nextFrame = 0;
    SimOscillator mixer;
    double mixerCyclesPerSample = 0.0;
    std::optional<std::uint64_t> expectedIndex;
};
