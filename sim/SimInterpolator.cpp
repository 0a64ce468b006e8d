#include "sim/SimInterpolator.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

#include "sim/SimKaiser.h"

SimInterpolator::SimInterpolator(const SimInterpolatorConfig& config)
    : interpolation(std::max(1, config.factor)) {
    const double outRate = config.inputRateHz * interpolation;
    if (interpolation == 1) {
        phaseLength = 1;
        return;
    }
    const double transition = (config.stopbandHz - config.passbandHz) / outRate;
    assert(transition > 0.0);
    const auto estimate =
        static_cast<std::size_t>(std::ceil((config.attenuationDB - 7.95) / (14.36 * transition))) + 1;
    phaseLength = (estimate + interpolation - 1) / interpolation;
    const std::size_t length = phaseLength * interpolation;
    const double cutoff = 0.5 * (config.passbandHz + config.stopbandHz) / outRate;
    const double beta = simkaiser::beta(config.attenuationDB);
    const double centre = 0.5 * static_cast<double>(length - 1);
    std::vector<double> taps(length);
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) - centre;
        const double sinc = t == 0.0 ? 2.0 * cutoff
                                     : std::sin(2.0 * std::numbers::pi * cutoff * t) /
                                           (std::numbers::pi * t);
        const double r = t / centre;
        const double window = simkaiser::besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / simkaiser::besselI0(beta);
        taps[n] = sinc * window;
    }
    // Each phase is normalised to unit DC gain so a constant input gives a ripple-free output.
    // Layout [group of 8 phases][tap][phase within group], taps reversed, so the inner loop
    // over 8 phases has a constant trip count the compiler turns into vector code.
    groupCount = (static_cast<std::size_t>(interpolation) + kGroup - 1) / kGroup;
    phaseTaps.assign(groupCount * phaseLength * kGroup, 0.0f);
    for (int p = 0; p < interpolation; ++p) {
        double sum = 0.0;
        for (std::size_t k = 0; k < phaseLength; ++k) sum += taps[p + k * interpolation];
        const std::size_t g = static_cast<std::size_t>(p) / kGroup, j = static_cast<std::size_t>(p) % kGroup;
        for (std::size_t k = 0; k < phaseLength; ++k)
            phaseTaps[(g * phaseLength + (phaseLength - 1 - k)) * kGroup + j] =
                static_cast<float>(taps[p + k * interpolation] / sum);
    }
    history.assign(phaseLength - 1, 0.0f);
    work.reserve(history.size() + config.maxInputBlock);
}

void SimInterpolator::process(std::span<const float> in, std::span<float> out) {
    const auto factor = static_cast<std::size_t>(interpolation);
    assert(out.size() >= in.size() * factor);
    if (factor == 1) {
        std::copy(in.begin(), in.end(), out.begin());
        return;
    }
    work.resize(history.size() + in.size());
    std::copy(history.begin(), history.end(), work.begin());
    std::copy(in.begin(), in.end(), work.begin() + static_cast<std::ptrdiff_t>(history.size()));
    for (std::size_t i = 0; i < in.size(); ++i) {
        const float* x = work.data() + i;
        float* o = out.data() + i * factor;
        for (std::size_t g = 0; g < groupCount; ++g) {
            const float* h = phaseTaps.data() + g * phaseLength * kGroup;
            float acc[kGroup] = {};
            for (std::size_t k = 0; k < phaseLength; ++k)
                for (std::size_t j = 0; j < kGroup; ++j) acc[j] += h[k * kGroup + j] * x[k];
            const std::size_t n = std::min(kGroup, factor - g * kGroup);
            std::copy(acc, acc + n, o + g * kGroup);
        }
    }
    std::copy(work.end() - static_cast<std::ptrdiff_t>(history.size()), work.end(), history.begin());
}

void SimInterpolator::reset() { std::fill(history.begin(), history.end(), 0.0f); }
