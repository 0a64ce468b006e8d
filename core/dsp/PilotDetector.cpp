#include "dsp/PilotDetector.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kInPhaseSeconds = 0.025;
constexpr double kQuadratureSeconds = 0.1;
constexpr double kLockSeconds = 0.1;
constexpr double kFirstAverageSeconds = 0.02;
constexpr double kFullSwingSeconds = 0.1;
// Thresholds as power ratios, with their decibels.
constexpr float kPresentOnRatio = 10.0f;       // 10 dB
constexpr float kPresentOffRatio = 3.981072f;  // 6 dB
constexpr float kMonoBelowRatio = 100.0f;      // 20 dB
constexpr float kFullStereoRatio = 10'000.0f;  // 40 dB
constexpr float kMonoBelowDB = 20.0f;
constexpr float kFullStereoDB = 40.0f;
// Reported when there is nothing to measure (silence), below every threshold.
constexpr float kNoPilotDB = -100.0f;

int updatesIn(double seconds, double updateRateHz) {
    return static_cast<int>(std::ceil(seconds * updateRateHz));
}

}  // namespace

PilotDetector::PilotDetector(double updateRateHz)
    : inPhaseAlpha(static_cast<float>(1.0 / (kInPhaseSeconds * updateRateHz))),
      quadratureAlpha(static_cast<float>(1.0 / (kQuadratureSeconds * updateRateHz))),
      slewPerUpdate(static_cast<float>(1.0 / (kFullSwingSeconds * updateRateHz))),
      lockUpdates(updatesIn(kLockSeconds, updateRateHz)),
      firstDecision(lockUpdates + updatesIn(kFirstAverageSeconds, updateRateHz)),
      lastCounted(lockUpdates + 2 * updatesIn(kQuadratureSeconds, updateRateHz)) {}

void PilotDetector::reset() {
    inPhaseMean = 0.0f;
    quadraturePower = 0.0f;
    updates = 0;
    present = false;
    amount = 0.0f;
}

float PilotDetector::pilotToNoiseDB() const {
    if (updates <= lockUpdates || inPhaseMean <= 0.0f) return kNoPilotDB;  // or anti-phase
    const float signal = inPhaseMean * inPhaseMean;
    if (quadraturePower <= 0.0f) return -kNoPilotDB;  // a noiseless pilot
    return std::max(10.0f * std::log10(signal / quadraturePower), kNoPilotDB);
}

void PilotDetector::update(float inPhase, float quadrature) {
    if (updates < lastCounted) ++updates;
    if (updates <= lockUpdates) return;
    // Plain means over the first updates, then exponential averages of the set lengths.
    const auto count = static_cast<float>(updates - lockUpdates);
    inPhaseMean += std::max(1.0f / count, inPhaseAlpha) * (inPhase - inPhaseMean);
    quadraturePower +=
        std::max(1.0f / count, quadratureAlpha) * (quadrature * quadrature - quadraturePower);
    if (updates < firstDecision) return;
    // Compared as power ratios: the logarithm is only needed inside the blend range.
    const float signal = inPhaseMean > 0.0f ? inPhaseMean * inPhaseMean : 0.0f;
    const auto above = [&](float ratio) { return signal > ratio * quadraturePower; };
    if (present ? !above(kPresentOffRatio) : above(kPresentOnRatio)) present = !present;
    float target = 0.0f;
    if (present && above(kFullStereoRatio)) {
        target = 1.0f;
    } else if (present && above(kMonoBelowRatio)) {
        target = (pilotToNoiseDB() - kMonoBelowDB) / (kFullStereoDB - kMonoBelowDB);
    }
    amount += std::clamp(target - amount, -slewPerUpdate, slewPerUpdate);
}
