#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <span>

// RDS data-bit recovery from the FM multiplex (IEC 62106: 57 kHz DSB-SC BPSK, biphase coded,
// differentially encoded, 1187.5 bit/s).
//
// Input: the FM-discriminator output at `sampleRate` (256,000 samples/s in the receiver; any
// rate above twice the 59.4 kHz top of the RDS band works, the loop and timing gains scale).
// A Costas loop recovers the subcarrier; the low-passed in-phase arm is integrated half symbol
// by half symbol, the halves are compared (biphase decision) and consecutive decisions are
// XORed (differential decoding). Each data bit (0 or 1) leaves through `onDataBit`,
// synchronously, on the thread that calls `process`. The first bit after construction or
// `reset()` arrives at the end of the second symbol.
//
// Symbol timing: the integration window is kept on the received symbol boundaries by an
// early/late comparison of |halfSum2 - halfSum1| for windows a quarter symbol either side,
// which nudges the boundary by a fraction of a sample per symbol. The same metric has a
// second, smaller maximum half a symbol off; a guard compares the metric of the window half a
// symbol away and moves the window there when that one is clearly stronger.
//
// Thread safety: `process` and `reset` may be called from different threads; each takes the
// object's mutex for the whole call, so `onDataBit` runs under it. The callback must not call
// back into this object. Set `onDataBit` before the first `process` and leave it alone after.
class RDSDemodulator {
public:
    explicit RDSDemodulator(double sampleRateHz);
    RDSDemodulator(const RDSDemodulator&) = delete;
    RDSDemodulator& operator=(const RDSDemodulator&) = delete;

    // Runs over the block; an empty block does nothing.
    void process(std::span<const float> block);
    // Drops loop lock and symbol timing; gains, rate and callback stay.
    void reset();

    // Receiver of decoded data bits (0 or 1).
    std::function<void(int)> onDataBit;

private:
    void resetLocked();
    void endSymbol();
    void recoverTiming();
    void advanceOscillator(double p, double nominalCos, double nominalSin, double deviationRad);

    const double nominalCarrierHz = 57'000.0;
    const double sampleRate;
    double ncoPhase = 0.0;       // rad, kept in [-pi, pi]
    double ncoFreqRad = 0.0;     // rad per sample
    double oscillatorSin = 0.0;  // sin and cos of ncoPhase, by recurrence
    double oscillatorCos = 1.0;
    int samplesSinceResync = 0;
    const double costasKp;  // per sample: 0.0008 at 2,048,000 samples/s
    const double costasKi;  // per sample²: 8e-7 at 2,048,000 samples/s
    double freqIntegral = 0.0;  // rad per sample
    float lpI = 0.0f;
    float lpQ = 0.0f;
    const float lpAlpha;                // one-pole low-pass at 2400 Hz
    const double samplesPerSymbolFull;  // samples per RDS bit
    const double timingGainSamples;     // boundary nudge per unit of timing error
    const double maxNudgeSamples;       // largest nudge per symbol
    double symbolPhase = 0.0;           // samples into the current symbol, fraction carried
    float halfSum1 = 0.0f;
    float halfSum2 = 0.0f;
    std::optional<int> prevBiphaseBit;

    // Symbol timing recovery. Quarter-symbol sums of lpI; with them the windows a quarter and
    // half a symbol away from the current one are known at each symbol end.
    std::array<float, 4> quarterSums{};
    std::array<float, 4> prevQuarterSums{};  // the symbol before
    float prevEarlyMetric = 0.0f;            // |D| of the window a quarter symbol early
    int symbolsInTiming = 0;                 // consecutive symbols in this alignment, up to 2
    int symbolsSinceJump = 0;                // since reset or the last half-symbol jump
    float alignedMetricAvg = 0.0f;           // running mean of |halfSum2 - halfSum1|
    float halfOffMetricAvg = 0.0f;           // same for the window half a symbol away

    std::mutex mutex;
};
