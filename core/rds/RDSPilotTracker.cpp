#include "rds/RDSPilotTracker.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kNaturalHz = 5.0;
constexpr double kDamping = 0.7;
constexpr double kMaxOffsetHz = 30.0;
constexpr double kCoherenceSeconds = 0.02;
constexpr float kLockCoherence = 0.6f;
constexpr float kUnlockCoherence = 0.3f;

double hzToRadiansPerSample(double hz, double sampleRateHz) {
    return kTwoPi * hz / sampleRateHz;
}

}  // namespace

RDSPilotTracker::RDSPilotTracker(double sampleRateHz)
    : phaseGain(2.0 * kDamping * hzToRadiansPerSample(kNaturalHz, sampleRateHz)),
      freqGain(std::pow(hzToRadiansPerSample(kNaturalHz, sampleRateHz), 2.0)),
      maxFreqRad(hzToRadiansPerSample(kMaxOffsetHz, sampleRateHz)),
      coherenceAlpha(static_cast<float>(1.0 / (kCoherenceSeconds * sampleRateHz))) {}

void RDSPilotTracker::reset() {
    phase = freq = 0.0;
    meanInPhase = meanPower = 0.0f;
    locked = false;
}

void RDSPilotTracker::process(std::complex<float> pilot) {
    const std::complex<float> u = pilot * std::complex<float>(static_cast<float>(std::cos(phase)),
                                                              static_cast<float>(-std::sin(phase)));
    const double error = std::atan2(u.imag(), u.real());
    freq = std::clamp(freq + freqGain * error, -maxFreqRad, maxFreqRad);
    phase = std::remainder(phase + freq + phaseGain * error, kTwoPi);

    meanInPhase += coherenceAlpha * (u.real() - meanInPhase);
    meanPower += coherenceAlpha * (std::norm(u) - meanPower);
    const float coherent = meanInPhase * meanInPhase;
    if (!locked && coherent > kLockCoherence * meanPower) locked = true;
    if (locked && coherent < kUnlockCoherence * meanPower) locked = false;
}
