#include "sim/CarrierEmitter.h"

#include <numbers>

#include "sim/SimUnits.h"

CarrierEmitter::CarrierEmitter(const CarrierEmitterConfig& config)
    : frequencyHz(config.frequencyHz),
      amplitude(config.amplitude),
      oscillator(0.0, config.initialPhaseRad / (2.0 * std::numbers::pi)) {}

void CarrierEmitter::render(std::span<IQSample> out, const RenderContext& ctx) {
    const double step = hzToCyclesPerSample(ctx.offsetHz, ctx.sampleRateHz);
    if (step != cyclesPerSample) {
        oscillator.setFrequency(step);
        cyclesPerSample = step;
    }
    const double a = amplitude.load(std::memory_order_relaxed);
    for (IQSample& s : out) {
        const std::complex<double> v = oscillator.next();
        s.i += static_cast<float>(a * v.real());
        s.q += static_cast<float>(a * v.imag());
    }
}
