#include "control/OffsetShift.h"

#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace {

// The rotator advances a group of samples at a time: the group's first value is carried in
// double precision and the steps within the group come from a table, so the per-sample work
// is independent complex multiplies the compiler can vectorise instead of a float recurrence.
constexpr std::size_t kGroup = 16;

struct RotatorTable {
    std::array<float, kGroup> cos{}, sin{};
    std::complex<double> groupStep;
};

RotatorTable makeTable() {
    RotatorTable t;
    for (std::size_t k = 0; k < kGroup; ++k) {
        t.cos[k] = static_cast<float>(std::cos(static_cast<double>(k) * kOffsetStepRad));
        t.sin[k] = static_cast<float>(std::sin(static_cast<double>(k) * kOffsetStepRad));
    }
    t.groupStep = std::polar(1.0, static_cast<double>(kGroup) * kOffsetStepRad);
    return t;
}

}  // namespace

double shiftBy40kHz(std::span<IQSample> block, double phaseRad) {
    const RotatorTable table = makeTable();
    std::complex<double> start = std::polar(1.0, phaseRad);
    for (std::size_t g = 0; g < block.size(); g += kGroup) {
        const std::size_t count = std::min(kGroup, block.size() - g);
        const auto c0 = static_cast<float>(start.real());
        const auto s0 = static_cast<float>(start.imag());
        IQSample* x = block.data() + g;
        for (std::size_t k = 0; k < count; ++k) {
            const float c = c0 * table.cos[k] - s0 * table.sin[k];
            const float s = s0 * table.cos[k] + c0 * table.sin[k];
            const float i = x[k].i, q = x[k].q;
            x[k] = {i * c - q * s, i * s + q * c};
        }
        start *= table.groupStep;
    }
    double phase = std::fmod(phaseRad + static_cast<double>(block.size()) * kOffsetStepRad,
                             2.0 * std::numbers::pi);
    if (phase > std::numbers::pi) phase -= 2.0 * std::numbers::pi;
    if (phase < -std::numbers::pi) phase += 2.0 * std::numbers::pi;
    return phase;
}
