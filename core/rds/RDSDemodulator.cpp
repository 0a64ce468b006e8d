#include "rds/RDSDemodulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kBitRateHz = 1187.5;  // IEC 62106: 57 kHz / 48

// Largest piece of input filtered before its outputs are demodulated; bounds `scratch`.
constexpr std::size_t kPieceSamples = 4096;

// Costas loop without a pilot: lock range about 2 x damping x natural frequency (8.4 Hz), so
// 100 ppm (5.7 Hz at 57 kHz) locks without slipping cycles; noise bandwidth 20 Hz against the
// 2.4 kHz of the signal. The frequency is held within +-30 Hz of nominal.
constexpr double kCostasNaturalHz = 6.0;
constexpr double kCostasDamping = 0.7;
constexpr double kMaxCarrierOffsetHz = 30.0;
// With a pilot only the station's fixed offset is left to find.
constexpr double kOffsetTimeConstantSeconds = 0.08;
constexpr double kPowerTimeConstantSeconds = 0.01;

// Timing recovery. The error is (|D_late| - |D_early|) over the symbol's magnitude sum, about
// -2 x (offset in symbols) near lock for ideal biphase; a gain of 0.0046 symbol turns that into
// 0.9 % of the offset per symbol. Each step is clamped to 2.9e-4 symbol, which bounds noise
// jitter and still follows clock errors up to 290 ppm; from the worst start, a quarter symbol
// off, pull-in takes under a second.
constexpr double kTimingGainSymbols = 8.0 / 1724.6;
constexpr double kMaxNudgeSymbols = 0.5 / 1724.6;
// Near the noise limit the nudge is mostly clamped, and following a clock error with it alone
// needs a standing timing offset (100 ppm: a third of the largest nudge on average). The mean
// nudge over ~500 symbols is learnt as the clock drift and applied on top, up to 300 ppm.
constexpr double kDriftGain = 1.0 / 512.0;
constexpr double kMaxDriftSymbols = 300e-6;
// For the first 256 symbols (0.2 s) after reset or a half-symbol jump, when the window may be
// a quarter symbol off, gain and clamp are eight times larger: that quarter is made up in
// ~0.1 s instead of ~0.7 s, and the drift is not learnt from it.
constexpr int kAcquisitionSymbols = 256;
constexpr double kAcquisitionGear = 8.0;
// Half-symbol guard: running means over ~16 symbols; aligned, the half-off window sees full
// swings only where the data bit is 0 (about 0.6 of the aligned mean), half off the roles
// swap, so a clear 25 % excess means the window is on the wrong boundary.
constexpr float kGuardAlpha = 1.0f / 16.0f;
constexpr float kGuardRatio = 1.25f;
constexpr int kGuardSettleSymbols = 48;

double hzToRadiansPerSample(double hz, double sampleRateHz) {
    return kTwoPi * hz / sampleRateHz;
}

// Into [-pi, pi); the phases here are within a few turns of it.
double wrapPhase(double rad) {
    while (rad >= std::numbers::pi) rad -= kTwoPi;
    while (rad < -std::numbers::pi) rad += kTwoPi;
    return rad;
}

}  // namespace

RDSDemodulator::RDSDemodulator(double sampleRateHz)
    : filter(sampleRateHz),
      pilotTracker(filter.outputRateHz() / RDSChannelFilter::kPilotDecimation),
      scratch(filter.outputCount(kPieceSamples) + 1),
      costasKp(2.0 * kCostasDamping *
               hzToRadiansPerSample(kCostasNaturalHz, filter.outputRateHz())),
      costasKi(std::pow(hzToRadiansPerSample(kCostasNaturalHz, filter.outputRateHz()), 2.0)),
      maxCostasFreq(hzToRadiansPerSample(kMaxCarrierOffsetHz, filter.outputRateHz())),
      offsetGain(1.0 / (kOffsetTimeConstantSeconds * filter.outputRateHz())),
      powerAlpha(static_cast<float>(1.0 / (kPowerTimeConstantSeconds * filter.outputRateHz()))),
      samplesPerSymbol(filter.outputRateHz() / kBitRateHz),
      timingGainSamples(kTimingGainSymbols * samplesPerSymbol),
      maxNudgeSamples(kMaxNudgeSymbols * samplesPerSymbol),
      maxDriftSamples(kMaxDriftSymbols * samplesPerSymbol) {}

void RDSDemodulator::reset() {
    std::lock_guard guard(mutex);
    resetLocked();
}

void RDSDemodulator::resetLocked() {
    filter.reset();
    pilotTracker.reset();
    costasPhase = costasFreq = pilotOffsetRad = 0.0;
    meanPower = 0.0f;
    samplesSincePilot = 0;
    usingPilot = false;
    pilotLockedFlag.store(false, std::memory_order_relaxed);
    symbolPhase = 0.0;
    clockDriftSamples = 0.0;
    prevBiphaseBit.reset();
    quarterSums = {};
    prevQuarterSums = {};
    prevEarlyMetric = 0.0f;
    symbolsInTiming = 0;
    symbolsSinceJump = 0;
    symbolsSinceAcquire = 0;
    alignedMetricAvg = halfOffMetricAvg = 0.0f;
}

void RDSDemodulator::process(std::span<const float> block) {
    std::lock_guard guard(mutex);
    for (std::size_t pos = 0; pos < block.size(); pos += kPieceSamples) {
        const std::size_t count = filter.process(
            block.subspan(pos, std::min(kPieceSamples, block.size() - pos)), scratch);
        // from here on: the filter's output rate
        for (std::size_t k = 0; k < count; ++k) {
            const RDSChannelSample& s = scratch[k];
            if (s.hasPilot) trackPilot(s.pilot);
            integrate(recoverCarrier(s.rds));
            ++samplesSincePilot;
        }
    }
}

// The pilot value comes with the RDS value of the same output, and is handled first.
void RDSDemodulator::trackPilot(std::complex<float> pilot) {
    pilotTracker.process(pilot);
    samplesSincePilot = 0;
    const bool locked = pilotTracker.isLocked();
    if (locked == usingPilot) return;
    // The offset starts where the Costas loop stands, so a locked carrier stays locked.
    if (locked) pilotOffsetRad = wrapPhase(costasPhase - pilotCarrierPhase());
    usingPilot = locked;
    pilotLockedFlag.store(locked, std::memory_order_relaxed);
}

// 3 x the pilot phase at the instant of the current RDS value. The tracker's phase is its
// prediction for the next pilot value, kPilotDecimation samples after the last one and
// pilotLagSamples() older in signal time than an RDS value of the same output.
double RDSDemodulator::pilotCarrierPhase() const {
    const double stepRad = pilotTracker.freqRadPerSample() / RDSChannelFilter::kPilotDecimation;
    const double ahead = static_cast<double>(samplesSincePilot) -
                         RDSChannelFilter::kPilotDecimation + filter.pilotLagSamples();
    return 3.0 * (pilotTracker.phaseRad() + stepRad * ahead);
}

// Turns the value by the carrier phase and returns the in-phase arm, which holds the data.
// The Costas loop runs with or without a pilot, so it is in lock when the pilot goes.
float RDSDemodulator::recoverCarrier(std::complex<float> z) {
    const float power = std::norm(z);
    meanPower += powerAlpha * (power - meanPower);
    // The instantaneous power in the floor keeps the first values after silence from kicking
    // the loops.
    const float norm = std::max(meanPower, power);
    // BPSK detector: I Q is |z|^2 sin(2 error) / 2, stable at 0 and pi.
    auto turnAndDetect = [&](double phaseRad, double& error) {
        const auto phase = static_cast<float>(phaseRad);
        const std::complex<float> u = z * std::complex<float>(std::cos(phase), -std::sin(phase));
        error = norm > 0.0f ? static_cast<double>(u.real() * u.imag() / norm) : 0.0;
        return u.real();
    };
    double error = 0.0;
    const float costasArm = turnAndDetect(costasPhase, error);
    costasFreq = std::clamp(costasFreq + costasKi * error, -maxCostasFreq, maxCostasFreq);
    costasPhase = wrapPhase(costasPhase + costasFreq + costasKp * error);
    if (!usingPilot) return costasArm;
    const float pilotArm = turnAndDetect(pilotCarrierPhase() + pilotOffsetRad, error);
    pilotOffsetRad = wrapPhase(pilotOffsetRad + offsetGain * error);
    return pilotArm;
}

// Adds the value, which covers [symbolPhase, symbolPhase + 1), to the quarters it overlaps,
// in proportion; the symbol ends where the value crosses samplesPerSymbol.
void RDSDemodulator::integrate(float v) {
    const double quarter = samplesPerSymbol / 4.0;
    double start = symbolPhase;
    double end = start + 1.0;
    for (;;) {
        // Before 0 (a symbol lengthened by the timing nudge) counts as the first quarter.
        const int q = start < quarter         ? 0
                      : start < 2.0 * quarter ? 1
                      : start < 3.0 * quarter ? 2
                                              : 3;
        const double quarterEnd = q == 3 ? samplesPerSymbol : (q + 1) * quarter;
        if (end < quarterEnd || (q < 3 && end == quarterEnd)) {
            quarterSums[q] += v * static_cast<float>(end - start);
            symbolPhase = end;
            return;
        }
        quarterSums[q] += v * static_cast<float>(quarterEnd - start);
        if (q == 3) {
            const double rest = end - quarterEnd;
            symbolPhase = samplesPerSymbol;
            endSymbol();
            start = symbolPhase;
            end = start + rest;
        } else {
            start = quarterEnd;
        }
    }
}

void RDSDemodulator::endSymbol() {
    const float firstHalf = quarterSums[0] + quarterSums[1];
    const float secondHalf = quarterSums[2] + quarterSums[3];
    const int r = secondHalf > firstHalf ? 1 : 0;
    if (prevBiphaseBit && onDataBit) onDataBit(*prevBiphaseBit ^ r);
    prevBiphaseBit = r;
    symbolPhase -= samplesPerSymbol;
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
                const bool acquiring = symbolsSinceAcquire < kAcquisitionSymbols;
                const double gear = acquiring ? kAcquisitionGear : 1.0;
                const double nudge = std::clamp(gear * timingGainSamples * error,
                                                -gear * maxNudgeSamples, gear * maxNudgeSamples);
                if (!acquiring) {
                    clockDriftSamples = std::clamp(clockDriftSamples + kDriftGain * nudge,
                                                   -maxDriftSamples, maxDriftSamples);
                }
                symbolPhase -= nudge + clockDriftSamples;
            }
        }
        prevEarlyMetric = early;
        alignedMetricAvg += kGuardAlpha * (aligned - alignedMetricAvg);
        halfOffMetricAvg += kGuardAlpha * (halfOff - halfOffMetricAvg);
        if (symbolsSinceJump >= kGuardSettleSymbols &&
            halfOffMetricAvg > kGuardRatio * alignedMetricAvg) {
            // The window that began half a symbol ago becomes the current one: its first half
            // is this symbol's second half. The decision chain restarts with it.
            symbolPhase += samplesPerSymbol / 2.0;
            prevQuarterSums = {p[2], p[3], q[0], q[1]};
            quarterSums = {q[2], q[3], 0.0f, 0.0f};
            prevBiphaseBit.reset();
            std::swap(alignedMetricAvg, halfOffMetricAvg);
            symbolsInTiming = 1;
            symbolsSinceJump = 0;
            symbolsSinceAcquire = 0;
            return;
        }
    }
    prevQuarterSums = quarterSums;
    quarterSums = {};
    symbolsInTiming = std::min(symbolsInTiming + 1, 2);
    symbolsSinceJump = std::min(symbolsSinceJump + 1, kGuardSettleSymbols);
    symbolsSinceAcquire = std::min(symbolsSinceAcquire + 1, kAcquisitionSymbols);
}
