#include "sim/AMEmitter.h"

#include <algorithm>

#include "sim/SimUnits.h"

AMEmitter::AMEmitter(const AMEmitterConfig& config)
    : carrier(config.carrierHz),
      depth(config.modulationDepth),
      programme(config.tones),
      amplitude(config.amplitude) {
    double highest = 0.0;
    for (const AMTone& t : programme) highest = std::max(highest, t.frequencyHz);
    bandwidth = 2.0 * highest;
    configureRate(kSimSampleRateHz);
}

void AMEmitter::configureRate(double sampleRateHz) {
    rateHz = sampleRateHz;
    if (tones.empty()) {
        for (const AMTone& t : programme)
            tones.push_back({SimOscillator(hzToCyclesPerSample(t.frequencyHz, rateHz)), t.amplitude});
        return;
    }
    for (std::size_t k = 0; k < tones.size(); ++k)
        tones[k].oscillator.setFrequency(hzToCyclesPerSample(programme[k].frequencyHz, rateHz));
}

void AMEmitter::render(std::span<IQSample> out, const RenderContext& ctx) {
    if (ctx.sampleRateHz != rateHz) configureRate(ctx.sampleRateHz);
    if (expectedIndex && ctx.sampleIndex > *expectedIndex)
        for (ToneOscillator& t : tones) t.oscillator.advance(ctx.sampleIndex - *expectedIndex);
    expectedIndex = ctx.sampleIndex + out.size();

    const double step = hzToCyclesPerSample(ctx.offsetHz, rateHz);
    if (step != offsetCyclesPerSample) {
        carrierOscillator.setFrequency(step);
        offsetCyclesPerSample = step;
    }
    const double a = amplitude.load(std::memory_order_relaxed);
    for (IQSample& s : out) {
        double audio = 0.0;
        for (ToneOscillator& t : tones) audio += t.amplitude * t.oscillator.next().imag();
        const double envelope = a * (1.0 + depth * audio);
        const std::complex<double> c = carrierOscillator.next();
        s.i += static_cast<float>(envelope * c.real());
        s.q += static_cast<float>(envelope * c.imag());
    }
}
