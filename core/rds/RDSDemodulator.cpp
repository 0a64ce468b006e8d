#include "rds/RDSDemodulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kBitRateHz = 1187.5;        // IEC 62106: 57 kHz / 48
constexpr double kLowPassCornerHz = 2400.0;  // passes the biphase spectrum (peak near 1.2 kHz)

// The Costas loop's gains per sample at this rate; at other rates they are scaled so that
// the loop keeps its bandwidth and damping in hertz.
constexpr double kGainReferenceRateHz = 2'048'000.0;
constexpr double kCostasKpAtReference = 0.0008;
constexpr double kCostasKiAtReference = 0.0000008;

// Timing recovery. The error is (|D_late| - |D_early|) over the symbol's magnitude sum, about
// -2 x (offset in symbols) near lock for ideal biphase; a gain of 0.0046 symbol turns that into
// 0.9 % of the offset per symbol. Each step is clamped to 2.9e-4 symbol, which bounds noise
// jitter and still follows clock errors up to 290 ppm; from the worst start, a quarter symbol
// off, pull-in takes under a second.
constexpr double kTimingGainSymbols = 8.0 / 1724.6;
constexpr double kMaxNudgeSymbols = 0.5 / 1724.6;
// Half-symbol guard: running means over ~16 symbols; aligned, the half-off window sees full
// swings only where the data bit is 0 (about 0.6 of the aligned mean), half off the roles
// swap, so a clear 25 % excess means the window is on the wrong boundary.
constexpr float kGuardAlpha = 1.0f / 16.0f;
constexpr float kGuardRatio = 1.25f;
constexpr int kGuardSettleSymbols = 48;
// Oscillator recurrence: exact sin/cos every 4096 samples and whenever the step strays far
// from nominal (an unlocked loop with a large integrator).
constexpr int kResyncSamples = 4096;
constexpr double kSeriesLimitRad = 1e-3;

double hzToRadiansPerSample(double hz, double sampleRateHz) {
    return kTwoPi * hz / sampleRateHz;
}

float lowPassAlpha(double sampleRateHz) {
    const double dt = 1.0 / sampleRateHz;
    const double rc = 1.0 / (kTwoPi * kLowPassCornerHz);
    return static_cast<float>(dt / (dt + rc));
}

}  // namespace

RDSDemodulator::RDSDemodulator(double sampleRateHz)
    : sampleRate(sampleRateHz),
      ncoFreqRad(hzToRadiansPerSample(nominalCarrierHz, sampleRateHz)),
      costasKp(kCostasKpAtReference * (kGainReferenceRateHz / sampleRateHz)),
      costasKi(kCostasKiAtReference * std::pow(kGainReferenceRateHz / sampleRateHz, 2.0)),
      lpAlpha(lowPassAlpha(sampleRateHz)),
      samplesPerSymbolFull(sampleRateHz / kBitRateHz),
      timingGainSamples(kTimingGainSymbols * samplesPerSymbolFull),
      maxNudgeSamples(kMaxNudgeSymbols * samplesPerSymbolFull) {}

void RDSDemodulator::reset() {
    std::lock_guard guard(mutex);
    resetLocked();
}

void RDSDemodulator::resetLocked() {
    ncoPhase = 0.0;
    oscillatorSin = 0.0;
    oscillatorCos = 1.0;
    samplesSinceResync = 0;
    ncoFreqRad = hzToRadiansPerSample(nominalCarrierHz, sampleRate);
    freqIntegral = 0.0;
    lpI = lpQ = 0.0f;
    halfSum1 = halfSum2 = 0.0f;
    symbolPhase = 0.0;
    prevBiphaseBit.reset();
    quarterSums = {};
    prevQuarterSums = {};
    prevEarlyMetric = 0.0f;
    symbolsInTiming = 0;
    symbolsSinceJump = 0;
    alignedMetricAvg = halfOffMetricAvg = 0.0f;
}

void RDSDemodulator::process(std::span<const float> block) {
    std::lock_guard guard(mutex);
    const double nominalStep = hzToRadiansPerSample(nominalCarrierHz, sampleRate);
    const double halfSymbol = samplesPerSymbolFull / 2.0;
    const double quarterSymbol = samplesPerSymbolFull / 4.0;
    const double threeQuarterSymbol = 3.0 * quarterSymbol;
    const double nominalCos = std::cos(nominalStep);
    const double nominalSin = std::sin(nominalStep);
    for (const float x : block) {
        const double s = oscillatorSin;
        const double c = oscillatorCos;
        double p = ncoPhase + ncoFreqRad;
        if (p > kPi) p -= kTwoPi;
        if (p < -kPi) p += kTwoPi;
        lpI += lpAlpha * (x * static_cast<float>(c) - lpI);
        lpQ += lpAlpha * (x * static_cast<float>(s) - lpQ);
        // BPSK Costas detector. The minus sign makes 0 and pi the stable phases; with +lpQ the
        // loop settles at +-90 degrees, where lpI carries no data.
        const double e = lpI >= 0.0f ? -static_cast<double>(lpQ) : static_cast<double>(lpQ);
        advanceOscillator(p, nominalCos, nominalSin, ncoFreqRad - nominalStep);
        freqIntegral += costasKi * e;
        ncoFreqRad = nominalStep + costasKp * e + freqIntegral;
        ncoPhase = p;

        symbolPhase += 1.0;
        if (symbolPhase < halfSymbol) {
            halfSum1 += lpI;
            quarterSums[symbolPhase < quarterSymbol ? 0 : 1] += lpI;
        } else {
            halfSum2 += lpI;
            quarterSums[symbolPhase < threeQuarterSymbol ? 2 : 3] += lpI;
        }
        if (symbolPhase >= samplesPerSymbolFull) endSymbol();
    }
}

// sin and cos of the next phase p by rotating the current pair through this sample's step,
// nominal + deviation; the deviation is tiny while the loop tracks, so its sin and cos come
// from short series (error below 1e-17 for |deviation| < 1e-3). Every kResyncSamples samples,
// counted across blocks, the pair is recomputed from p so rounding cannot accumulate. The
// values agree with sin(p) and cos(p) to ~1e-13, far inside the 32-bit rounding of the mixer.
void RDSDemodulator::advanceOscillator(double p, double nominalCos, double nominalSin,
                                       double deviationRad) {
    if (++samplesSinceResync >= kResyncSamples || std::fabs(deviationRad) > kSeriesLimitRad) {
        samplesSinceResync = 0;
        oscillatorSin = std::sin(p);
        oscillatorCos = std::cos(p);
        return;
    }
    const double d2 = deviationRad * deviationRad;
    const double devCos = 1.0 - d2 * (0.5 - d2 * (1.0 / 24.0));
    const double devSin = deviationRad * (1.0 - d2 * (1.0 / 6.0 - d2 * (1.0 / 120.0)));
    const double stepCos = nominalCos * devCos - nominalSin * devSin;
    const double stepSin = nominalSin * devCos + nominalCos * devSin;
    const double c = oscillatorCos * stepCos - oscillatorSin * stepSin;
    oscillatorSin = oscillatorSin * stepCos + oscillatorCos * stepSin;
    oscillatorCos = c;
}

void RDSDemodulator::endSymbol() {
    const int r = halfSum2 > halfSum1 ? 1 : 0;
    if (prevBiphaseBit && onDataBit) onDataBit(*prevBiphaseBit ^ r);
    prevBiphaseBit = r;
    symbolPhase -= samplesPerSymbolFull;
    recoverTiming();
}

// Called at each symbol end with the finished symbol's sums. With q = this symbol's quarter
// sums and p = the previous symbol's, D(window) = second half - first half:
//   aligned            [0, N)         (q2 + q3) - (q0 + q1)
//   half off           [-N/2, N/2)    (q0 + q1) - (p2 + p3)
//   early, this symbol [-N/4, 3N/4)   (q1 + q2) - (p3 + q0)
//   late, previous     [-3N/4, N/4)   (p3 + q0) - (p1 + p2)
// The late window of the previous symbol needs this symbol's first quarter, so the error is
// formed one symbol late, from the previous symbol's early and late metrics.
void RDSDemodulator::recoverTiming() {
    const auto& q = quarterSums;
    const auto& p = prevQuarterSums;
    if (symbolsInTiming >= 1) {
        const float aligned = std::fabs((q[2] + q[3]) - (q[0] + q[1]));
        const float halfOff = std::fabs((q[0] + q[1]) - (p[2] + p[3]));
        const float early = std::fabs((q[1] + q[2]) - (p[3] + q[0]));
        if (symbolsInTiming >= 2) {
            const float lateOfPrev = std::fabs((p[3] + q[0]) - (p[1] + p[2]));
            const float magnitude =
                std::fabs(p[0]) + std::fabs(p[1]) + std::fabs(p[2]) + std::fabs(p[3]);
            if (magnitude > 0.0f) {
                const double error = (lateOfPrev - prevEarlyMetric) / magnitude;
                // Late window stronger: the true boundary is later, so lengthen this symbol.
                symbolPhase -=
                    std::clamp(timingGainSamples * error, -maxNudgeSamples, maxNudgeSamples);
            }
        }
        prevEarlyMetric = early;
        alignedMetricAvg += kGuardAlpha * (aligned - alignedMetricAvg);
        halfOffMetricAvg += kGuardAlpha * (halfOff - halfOffMetricAvg);
        if (symbolsSinceJump >= kGuardSettleSymbols &&
            halfOffMetricAvg > kGuardRatio * alignedMetricAvg) {
            // The window that began half a symbol ago becomes the current one: its first half
            // is this symbol's second half. The decision chain restarts with it.
            symbolPhase += samplesPerSymbolFull / 2.0;
            halfSum1 = halfSum2;
            halfSum2 = 0.0f;
            prevQuarterSums = {p[2], p[3], q[0], q[1]};
            quarterSums = {q[2], q[3], 0.0f, 0.0f};
            prevBiphaseBit.reset();
            std::swap(alignedMetricAvg, halfOffMetricAvg);
            symbolsInTiming = 1;
            symbolsSinceJump = 0;
            return;
        }
    }
    prevQuarterSums = quarterSums;
    quarterSums = {};
    halfSum1 = halfSum2 = 0.0f;
    symbolsInTiming = std::min(symbolsInTiming + 1, 2);
    symbolsSinceJump = std::min(symbolsSinceJump + 1, kGuardSettleSymbols);
}
