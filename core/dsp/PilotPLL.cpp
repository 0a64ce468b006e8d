#include "dsp/PilotPLL.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPilotHz = 19'000.0;
constexpr double kPullRangeHz = 800.0;
constexpr double kArmCornerHz = 250.0;
constexpr double kNaturalFrequencyHz = 20.0;
constexpr double kDamping = 0.7;
// Arm power below which there is no signal to lock to (a pilot of 1e-12 full scale).
constexpr double kSilencePower = 1e-24;

double hzToRadiansPerSample(double hz, double sampleRate) {
    return 2.0 * std::numbers::pi * hz / sampleRate;
}

float onePoleAlpha(double cornerHz, double sampleRate) {
    const double dt = 1.0 / sampleRate;
    const double rc = 1.0 / (2.0 * std::numbers::pi * cornerHz);
    return static_cast<float>(dt / (dt + rc));
}

// The continuous loop φ' = ω + 2ζωn·e, ω' = ωn²·e (detector gain 1 rad/rad), stepped once
// per update period T.
double updatePeriodSeconds(double sampleRate) {
    return PilotPLL::kUpdateSamples / sampleRate;
}

}  // namespace

PilotPLL::PilotPLL(double sampleRate)
    : centerFreq(hzToRadiansPerSample(kPilotHz, sampleRate)),
      freqRange(hzToRadiansPerSample(kPullRangeHz, sampleRate)),
      phaseGain(2.0 * kDamping * 2.0 * std::numbers::pi * kNaturalFrequencyHz *
                updatePeriodSeconds(sampleRate)),
      freqGain(std::pow(2.0 * std::numbers::pi * kNaturalFrequencyHz, 2.0) *
               updatePeriodSeconds(sampleRate) / sampleRate),
      armAlpha(onePoleAlpha(kArmCornerHz, sampleRate)),
      freq(centerFreq) {
    startPeriod();
}

void PilotPLL::reset() {
    phase = 0.0;
    freq = centerFreq;
    inPhase1 = inPhase2 = quadrature1 = quadrature2 = 0.0f;
    inPhaseSum = quadratureSum = 0.0f;
    inPhaseMean = quadratureMean = 0.0f;
    countInPeriod = 0;
    startPeriod();
}

void PilotPLL::updateLoop() {
    countInPeriod = 0;
    inPhaseMean = inPhaseSum / static_cast<float>(kUpdateSamples);
    quadratureMean = quadratureSum / static_cast<float>(kUpdateSamples);
    inPhaseSum = quadratureSum = 0.0f;
    // In silence the arms decay to denormal rounding residue, whose angle means nothing:
    // the loop free-runs instead.
    const double i = inPhaseMean, q = quadratureMean;
    const double error = i * i + q * q > kSilencePower ? std::atan2(q, i) : 0.0;
    const double correction = phaseGain * error;
    const double newFreq =
        std::clamp(freq + freqGain * error, centerFreq - freqRange, centerFreq + freqRange);
    phase += kUpdateSamples * freq + correction;
    phase -= kTwoPi * std::floor(phase / kTwoPi);
    if (!(phase >= 0.0 && phase < kTwoPi)) phase = 0.0;  // rounding at a multiple of 2π
    const double freqChange = newFreq - freq;
    freq = newFreq;
    if (++periodsSinceSync == kSyncPeriods) {
        startPeriod();
        return;
    }
    // The rotation has already brought sin φ and cos φ to this period's start; the small
    // correction and frequency change are applied by rotation as well.
    rotate(sinPhase, cosPhase, correction);
    rotate(stepSin, stepCos, freqChange);
}

// Exact sine and cosine every kSyncPeriods periods, so the rotations' rounding never
// accumulates.
void PilotPLL::startPeriod() {
    periodsSinceSync = 0;
    sinPhase = std::sin(phase);
    cosPhase = std::cos(phase);
    stepSin = std::sin(freq);
    stepCos = std::cos(freq);
}

// (s, c) turned by a small angle (|angle| < 0.04 rad: series error below 1e-13) and brought
// back to unit length.
void PilotPLL::rotate(double& s, double& c, double angle) {
    const double a2 = angle * angle;
    const double ca = 1.0 - a2 * (0.5 - a2 * (1.0 / 24.0));
    const double sa = angle * (1.0 - a2 * (1.0 / 6.0 - a2 * (1.0 / 120.0)));
    const double ns = s * ca + c * sa;
    const double nc = c * ca - s * sa;
    const double norm = 1.5 - 0.5 * (ns * ns + nc * nc);
    s = ns * norm;
    c = nc * norm;
}
