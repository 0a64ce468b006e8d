#include "control/OffsetShift.h"

#include <cmath>
#include <numbers>

double shiftBy40kHz(std::span<IQSample> block, double phaseRad) {
    constexpr float kStepCos = 0.99247956f, kStepSin = 0.12241068f;
    float c = static_cast<float>(std::cos(phaseRad));
    float s = static_cast<float>(std::sin(phaseRad));
    for (IQSample& x : block) {
        const float i = x.i, q = x.q;
        x = {i * c - q * s, i * s + q * c};
        const float nc = c * kStepCos - s * kStepSin;
        s = s * kStepCos + c * kStepSin;
        c = nc;
    }
    double phase = std::fmod(phaseRad + static_cast<double>(block.size()) * kOffsetStepRad,
                             2.0 * std::numbers::pi);
    if (phase > std::numbers::pi) phase -= 2.0 * std::numbers::pi;
    if (phase < -std::numbers::pi) phase += 2.0 * std::numbers::pi;
    return phase;
}
