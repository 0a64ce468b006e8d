#include "sim/NBFMEmitter.h"

#include <algorithm>
#include <cmath>

#include "sim/SimUnits.h"

namespace {
constexpr double kKeyRampSeconds = 0.001;
}  // namespace

NBFMEmitter::NBFMEmitter(const NBFMEmitterConfig& config)
    : carrier(config.carrierHz),
      peakDeviationHz(config.peakDeviationHz),
      audioBandwidthHz(config.audioBandwidthHz),
      amplitude(config.amplitude),
      keyedFlag(config.isKeyed),
      keyLevel(config.isKeyed ? 1.0 : 0.0) {
    audio.resize(kBatchSamples);
    configureRate(kSimSampleRateHz);
}

int NBFMEmitter::interpolationFactor(double sampleRateHz) {
    return std::max(1, static_cast<int>(std::lround(sampleRateHz / kAudioRateHz)));
}

void NBFMEmitter::setAudioSource(NBFMAudioSource s) {
    std::lock_guard lock(sourceMutex);
    source = std::move(s);
}

void NBFMEmitter::configureRate(double sampleRateHz) {
    outputRateHz = sampleRateHz;
    const int factor = interpolationFactor(sampleRateHz);
    audioRateHz = sampleRateHz / factor;
    if (factor > 1) {
        const double passband = std::min(audioBandwidthHz, 0.4 * audioRateHz);
        interpolator.emplace(SimInterpolatorConfig{.factor = factor,
                                                   .inputRateHz = audioRateHz,
                                                   .passbandHz = passband,
                                                   .stopbandHz = audioRateHz - passband,
                                                   .maxInputBlock = kBatchSamples});
    } else {
        interpolator.reset();
    }
    frequency.assign(kBatchSamples * factor, 0.0f);
    pendingPos = frequency.size();
    radiansPerUnit = hzToRadiansPerSample(peakDeviationHz, sampleRateHz);
    modulator.emplace(frequency.size());
    keyStep = 1.0 / (kKeyRampSeconds * sampleRateHz);
}

void NBFMEmitter::generateBatch() {
    std::fill(audio.begin(), audio.end(), 0.0f);
    if (source) source(audio, audioRateHz);
    // from here on: the dongle's rate
    if (interpolator)
        interpolator->process(audio, frequency);
    else
        std::copy(audio.begin(), audio.end(), frequency.begin());
    modulator->prepare(frequency, radiansPerUnit);
    pendingPos = 0;
}

void NBFMEmitter::render(std::span<IQSample> out, const RenderContext& ctx) {
    std::lock_guard lock(sourceMutex);
    if (ctx.sampleRateHz != outputRateHz) configureRate(ctx.sampleRateHz);
    const std::complex<double> offsetStep =
        std::polar(1.0, hzToRadiansPerSample(ctx.offsetHz, outputRateHz));
    const double a = amplitude.load(std::memory_order_relaxed);
    const bool keyed = isKeyed();
    // The ramp runs on the 0..1 key level; the amplitude scales it.
    SimFMModulator::Envelope envelope{.level = a * keyLevel,
                                      .target = keyed ? a : 0.0,
                                      .slewPerSample = a * keyStep};
    std::size_t n = 0;
    while (n < out.size()) {
        if (pendingPos == frequency.size()) generateBatch();
        const std::size_t count = std::min(out.size() - n, frequency.size() - pendingPos);
        modulator->modulate(out.subspan(n, count), pendingPos, offsetStep, envelope);
        pendingPos += count;
        n += count;
    }
    keyLevel = a > 0.0 ? envelope.level / a : (keyed ? 1.0 : 0.0);
}
