#include "sim/FMBroadcastEmitter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/SimUnits.h"

namespace {
constexpr double kMultiplexPassbandHz = 60'000.0;  // stereo, 57 kHz subcarriers and their data
constexpr double kMonoAudioHz = 15'000.0;
constexpr double kStereoTopHz = 53'000.0;
}  // namespace

FMBroadcastEmitter::FMBroadcastEmitter(const FMBroadcastConfig& config)
    : carrier(config.carrierHz),
      peakDeviationHz(config.peakDeviationHz),
      pilotInjection(config.pilotInjection),
      preEmphasisMicroseconds(config.preEmphasisMicroseconds),
      amplitude(config.amplitude),
      programme(config.programme) {
    leftBlock.resize(kBatchSamples);
    rightBlock.resize(kBatchSamples);
    multiplex.resize(kBatchSamples);
    pilotPhase.resize(kBatchSamples);
    configureRate(kSimSampleRateHz);
    updateBandwidth();
}

int FMBroadcastEmitter::interpolationFactor(double sampleRateHz) {
    return std::max(1, static_cast<int>(std::lround(sampleRateHz / kMultiplexRateHz)));
}

void FMBroadcastEmitter::updateBandwidth() {
    // Carson's rule over the highest multiplex component.
    const bool wide = programme.isStereo || subcarrier;
    bandwidth.store(2.0 * (peakDeviationHz + (wide ? kStereoTopHz : kMonoAudioHz)),
                    std::memory_order_relaxed);
}

void FMBroadcastEmitter::setProgramme(const FMProgramme& p) {
    std::lock_guard lock(configMutex);
    programme = p;
    programmeChanged = true;
    updateBandwidth();
}

void FMBroadcastEmitter::setSubcarrierSource(FMSubcarrierSource source) {
    std::lock_guard lock(configMutex);
    subcarrier = std::move(source);
    updateBandwidth();
}

void FMBroadcastEmitter::configureRate(double sampleRateHz) {
    outputRateHz = sampleRateHz;
    factor = interpolationFactor(sampleRateHz);
    multiplexRateHz = sampleRateHz / factor;
    if (factor > 1) {
        const double passband = std::min(kMultiplexPassbandHz, 0.4 * multiplexRateHz);
        interpolator.emplace(SimInterpolatorConfig{.factor = factor,
                                                   .inputRateHz = multiplexRateHz,
                                                   .passbandHz = passband,
                                                   .stopbandHz = multiplexRateHz - passband,
                                                   .maxInputBlock = kBatchSamples});
    } else {
        interpolator.reset();
    }
    frequency.assign(kBatchSamples * factor, 0.0f);
    pendingPos = frequency.size();
    radiansPerUnit = hzToRadiansPerSample(peakDeviationHz, sampleRateHz);
    modulator.emplace(frequency.size());
    pilot.setFrequency(hzToCyclesPerSample(kPilotHz, multiplexRateHz));
    preEmphasisPole = preEmphasisMicroseconds > 0.0
                          ? std::exp(-1.0 / (preEmphasisMicroseconds * 1e-6 * multiplexRateHz))
                          : 0.0;
    programmeChanged = true;
}

void FMBroadcastEmitter::buildTones() {
    auto build = [this](const std::vector<FMTone>& tones, std::vector<ToneOscillator>& out) {
        out.clear();
        for (const FMTone& t : tones)
            out.push_back({SimOscillator(hzToCyclesPerSample(t.frequencyHz, multiplexRateHz)),
                           t.amplitude});
    };
    build(programme.left, leftTones);
    build(programme.right, rightTones);
    programmeChanged = false;
}

void FMBroadcastEmitter::generateBatch() {
    auto sumTones = [](std::vector<ToneOscillator>& tones) {
        double v = 0.0;
        for (ToneOscillator& t : tones) v += t.amplitude * t.oscillator.next().imag();
        return static_cast<float>(v);
    };
    for (std::size_t n = 0; n < kBatchSamples; ++n) {
        leftBlock[n] = sumTones(leftTones);
        rightBlock[n] = sumTones(rightTones);
    }
    // 50 µs pre-emphasis: the zero of 1 + sτ mapped to z = e^{-T/τ}, no pole; the audio is
    // band-limited to 15 kHz, where this stays within 0.05 dB of the analogue curve.
    if (preEmphasisPole > 0.0) {
        const auto a = static_cast<float>(preEmphasisPole);
        const auto g = static_cast<float>(1.0 / (1.0 - preEmphasisPole));
        for (std::size_t n = 0; n < kBatchSamples; ++n) {
            const float l = leftBlock[n], r = rightBlock[n];
            leftBlock[n] = g * (l - a * prevLeft);
            rightBlock[n] = g * (r - a * prevRight);
            prevLeft = l;
            prevRight = r;
        }
    }
    const bool stereo = programme.isStereo;
    const auto audioScale = static_cast<float>(stereo ? 1.0 - pilotInjection : 1.0);
    const auto injection = static_cast<float>(pilotInjection);
    for (std::size_t n = 0; n < kBatchSamples; ++n) {
        pilotPhase[n] = 2.0 * std::numbers::pi * pilot.phaseCycles();
        const std::complex<double> p = pilot.next();
        const float sum = 0.5f * (leftBlock[n] + rightBlock[n]);
        if (stereo) {
            const auto s1 = static_cast<float>(p.imag());
            const auto s2 = static_cast<float>(2.0 * p.imag() * p.real());  // sin 2θ
            const float diff = 0.5f * (leftBlock[n] - rightBlock[n]);
            multiplex[n] = audioScale * (sum + diff * s2) + injection * s1;
        } else {
            multiplex[n] = sum;
        }
    }
    if (subcarrier)
        subcarrier(multiplex, {.sampleRateHz = multiplexRateHz,
                               .sampleIndex = multiplexIndex,
                               .pilotPhaseRad = pilotPhase});
    multiplexIndex += kBatchSamples;
    // from here on: the dongle's rate
    if (interpolator)
        interpolator->process(multiplex, frequency);
    else
        std::copy(multiplex.begin(), multiplex.end(), frequency.begin());
    modulator->prepare(frequency, radiansPerUnit);
    pendingPos = 0;
}

void FMBroadcastEmitter::skipAhead(std::uint64_t outputSamples) {
    const std::uint64_t pending = frequency.size() - pendingPos;
    if (outputSamples <= pending) {
        pendingPos += outputSamples;
        return;
    }
    pendingPos = frequency.size();
    const std::uint64_t skipped = (outputSamples - pending) / factor;
    for (ToneOscillator& t : leftTones) t.oscillator.advance(skipped);
    for (ToneOscillator& t : rightTones) t.oscillator.advance(skipped);
    pilot.advance(skipped);
    multiplexIndex += skipped;
}

void FMBroadcastEmitter::render(std::span<IQSample> out, const RenderContext& ctx) {
    std::lock_guard lock(configMutex);
    if (ctx.sampleRateHz != outputRateHz) configureRate(ctx.sampleRateHz);
    if (programmeChanged) buildTones();
    if (expectedIndex && ctx.sampleIndex > *expectedIndex) skipAhead(ctx.sampleIndex - *expectedIndex);
    expectedIndex = ctx.sampleIndex + out.size();

    const std::complex<double> offsetStep =
        std::polar(1.0, hzToRadiansPerSample(ctx.offsetHz, outputRateHz));
    const double a = amplitude.load(std::memory_order_relaxed);
    SimFMModulator::Envelope envelope{.level = a, .target = a};
    std::size_t n = 0;
    while (n < out.size()) {
        if (pendingPos == frequency.size()) generateBatch();
        const std::size_t count = std::min(out.size() - n, frequency.size() - pendingPos);
        modulator->modulate(out.subspan(n, count), pendingPos, offsetStep, envelope);
        pendingPos += count;
        n += count;
    }
}
