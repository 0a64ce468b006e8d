#pragma once

#include <array>
#include <atomic>
#include <complex>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "rds/RDSChannelFilter.h"
#include "rds/RDSPilotTracker.h"

// RDS data-bit recovery from the FM multiplex (IEC 62106: 57 kHz DSB-SC BPSK, biphase coded,
// differentially encoded, 1187.5 bit/s).
//
// Input: the FM-discriminator output at `sampleRate` (256,000 samples/s in the receiver; any
// rate from 128 kHz up). RDSChannelFilter moves the 57 kHz subcarrier and the 19 kHz pilot to
// complex baseband and decimates both (to ~32 kHz, ~27 samples per bit, for RDS); everything
// below runs at that rate, with loop and timing gains set in hertz and symbols.
//
// Carrier phase: the subcarrier is locked to three times the pilot, at a fixed offset chosen
// by the station (0, +-90 degrees or anything). While RDSPilotTracker reports a pilot, the
// carrier phase is 3 x the tracked pilot phase plus that offset, which a first-order loop
// (time constant 80 ms) finds, starting from the Costas loop's phase. Without a pilot (mono
// stations) that Costas loop (natural frequency 6 Hz, damping 0.7), which runs all the time,
// tracks frequency and phase. Both use the power-normalised BPSK detector I Q / mean(|z|^2),
// so their bandwidths do not depend on the injection level.
//
// Bits: the in-phase arm is integrated quarter symbol by quarter symbol, a sample straddling
// a boundary split by its fractions; the halves are compared (biphase decision) and
// consecutive decisions are XORed (differential decoding). Each data bit (0 or 1) leaves
// through `onDataBit`, synchronously, on the thread that calls `process`. The first bit after
// construction or `reset()` arrives at the end of the second symbol, decimation() x
// ceil(2 x output rate / 1187.5) input samples in (432 at 256 kHz).
//
// Symbol timing: the integration window is kept on the received symbol boundaries by an
// early/late comparison of |second half - first half| for windows a quarter symbol either
// side, which nudges the boundary by a fraction of a sample per symbol. The same metric has a
// second, smaller maximum half a symbol off; a guard compares the metric of the window half a
// symbol away and moves the window there when that one is clearly stronger.
//
// Thread safety: `process` and `reset` may be called from different threads; each takes the
// object's mutex for the whole call, so `onDataBit` runs under it. The callback must not call
// back into this object. Set `onDataBit` before the first `process` and leave it alone after.
// `pilotLocked` may be read from any thread.
class RDSDemodulator {
public:
    explicit RDSDemodulator(double sampleRateHz);
    RDSDemodulator(const RDSDemodulator&) = delete;
    RDSDemodulator& operator=(const RDSDemodulator&) = delete;

    // Runs over the block; an empty block does nothing.
    void process(std::span<const float> block);
    // Back to the just-constructed state; rate and callback stay.
    void reset();
    // Whether the carrier phase currently comes from a stereo pilot.
    bool pilotLocked() const { return pilotLockedFlag.load(std::memory_order_relaxed); }

    // Receiver of decoded data bits (0 or 1).
    std::function<void(int)> onDataBit;

private:
    void resetLocked();
    void trackPilot(std::complex<float> pilot);
    double pilotCarrierPhase() const;
    float recoverCarrier(std::complex<float> z);
    void integrate(float v);
    void endSymbol();
    void recoverTiming();

    RDSChannelFilter filter;
    RDSPilotTracker pilotTracker;
    std::vector<RDSChannelSample> scratch;  // filter output of one piece of input

    // Carrier recovery, per decimated sample.
    const double costasKp;        // rad per unit error
    const double costasKi;        // rad per sample per unit error
    const double maxCostasFreq;   // rad per sample
    const double offsetGain;      // rad per unit error
    const float powerAlpha;       // detector normalisation, ~10 ms
    double costasPhase = 0.0;     // rad, [-pi, pi)
    double costasFreq = 0.0;      // rad per sample
    double pilotOffsetRad = 0.0;  // carrier phase - 3 x pilot phase
    float meanPower = 0.0f;
    int samplesSincePilot = 0;  // decimated samples since the last pilot value
    bool usingPilot = false;
    std::atomic<bool> pilotLockedFlag{false};

    // Symbol timing, in decimated samples.
    const double samplesPerSymbol;   // per RDS bit
    const double timingGainSamples;  // boundary nudge per unit of timing error
    const double maxNudgeSamples;    // largest nudge per symbol
    const double maxDriftSamples;    // largest learnt clock drift per symbol
    double symbolPhase = 0.0;        // samples into the current symbol
    double clockDriftSamples = 0.0;  // per symbol, the transmitter's clock against ours
    std::optional<int> prevBiphaseBit;
    // Quarter-symbol sums of the in-phase arm; with them the windows a quarter and half a
    // symbol away from the current one are known at each symbol end.
    std::array<float, 4> quarterSums{};
    std::array<float, 4> prevQuarterSums{};  // the symbol before
    float prevEarlyMetric = 0.0f;            // |D| of the window a quarter symbol early
    int symbolsInTiming = 0;                 // consecutive symbols in this alignment, up to 2
    int symbolsSinceJump = 0;                // since reset or the last half-symbol jump
    int symbolsSinceAcquire = 0;             // the same, up to the end of fast pull-in
    float alignedMetricAvg = 0.0f;           // running mean of |second half - first half|
    float halfOffMetricAvg = 0.0f;           // same for the window half a symbol away

    std::mutex mutex;
};
