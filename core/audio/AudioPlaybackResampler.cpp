#include "audio/AudioPlaybackResampler.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

#include "dsp/FIRTaps.h"

namespace {

constexpr double kStopbandDB = 80.0;
// Kaiser's formulas for the window parameter and the transition width (as a fraction of the
// input rate) that kTaps buy at that attenuation.
constexpr double kKaiserBeta = 0.1102 * (kStopbandDB - 8.7);
constexpr double kTransitionWidth =
    (kStopbandDB - 7.95) / (14.36 * static_cast<double>(AudioPlaybackResampler::kTaps - 1));

// Cut-off in cycles per input sample: the whole band when the output rate is at least the
// input rate, else the transition band ends at the output's Nyquist frequency.
double cutoffFor(double step) {
    if (step <= 1.0) return 0.5;
    return 0.5 / step - kTransitionWidth / 2.0;
}

// sin(πu) / (πu), exactly 0 at the non-zero integers so that the 1:1 kernel is an impulse.
double sinc(double u) {
    if (u == 0.0) return 1.0;
    if (u == std::round(u)) return 0.0;
    return std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
}

// Kaiser window over |x| <= halfWidth.
double kaiser(double x, double halfWidth) {
    const double r = x / halfWidth;
    if (std::abs(r) >= 1.0) return 0.0;
    return FIRTaps::besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / FIRTaps::besselI0(kKaiserBeta);
}

}  // namespace

AudioPlaybackResampler::AudioPlaybackResampler(AudioPlaybackResamplerConfig config)
    : cfg(config),
      nominal(config.inputRateHz / config.outputRateHz),
      table((kPhases + 1) * kTaps),
      historyLeft(2 * kTaps, 0.0f),
      historyRight(2 * kTaps, 0.0f),
      step(0) {
    assert(std::isfinite(nominal) && nominal > 0.0 && nominal < 1'024.0);
    const double fc = cutoffFor(nominal);
    const double halfWidth = static_cast<double>(kTaps / 2);
    std::vector<double> taps(kTaps);
    for (std::size_t p = 0; p <= kPhases; ++p) {
        const double fraction = static_cast<double>(p) / static_cast<double>(kPhases);
        float* row = &table[p * kTaps];
        double sum = 0.0;
        for (std::size_t j = 0; j < kTaps; ++j) {
            // Distance from input sample j of the window (0 oldest) to the output position,
            // which lies kTaps / 2 samples behind the newest plus the fraction.
            const double x = static_cast<double>(kTaps / 2 - 1) - static_cast<double>(j) + fraction;
            taps[j] = sinc(2.0 * fc * x) * kaiser(x, halfWidth);
            sum += taps[j];
        }
        // Unit gain at DC in every phase, so the fractional position never modulates level.
        for (std::size_t j = 0; j < kTaps; ++j) row[j] = static_cast<float>(taps[j] / sum);
    }
    setRateCorrection(0.0);
}

void AudioPlaybackResampler::setRateCorrection(double fraction) {
    const double samples = nominal * (1.0 + fraction);
    step = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(samples * kOne)));
}

std::size_t AudioPlaybackResampler::inputNeeded(std::size_t frames) const {
    return static_cast<std::size_t>((position + frames * step) >> 32);
}

std::size_t AudioPlaybackResampler::framesFrom(std::size_t inputSamples) const {
    // frames m fit when position + m·step < (inputSamples + 1)·2^32.
    const std::uint64_t limit =
        ((static_cast<std::uint64_t>(inputSamples) + 1) << 32) - 1 - position;
    return static_cast<std::size_t>(limit / step);
}

void AudioPlaybackResampler::take(float left, float right) {
    historyLeft[historyPos] = left;
    historyLeft[historyPos + kTaps] = left;
    historyRight[historyPos] = right;
    historyRight[historyPos + kTaps] = right;
    if (++historyPos == kTaps) historyPos = 0;
}

void AudioPlaybackResampler::process(std::span<const float> inLeft, std::span<const float> inRight,
                             std::span<float> outLeft, std::span<float> outRight) {
    assert(outRight.size() == outLeft.size());
    assert(inLeft.size() >= inputNeeded(outLeft.size()));
    assert(inRight.size() >= inputNeeded(outLeft.size()));
    constexpr int kPhaseShift = 32 - 8;  // the top 8 of the 32 fraction bits pick one of 256 rows
    static_assert(kPhases == 1u << 8);
    constexpr float kBetweenRows = 1.0f / static_cast<float>(1u << kPhaseShift);
    std::size_t next = 0;
    for (std::size_t i = 0; i < outLeft.size(); ++i) {
        const float* a = &table[(position >> kPhaseShift) * kTaps];
        const float* b = a + kTaps;
        const float t = static_cast<float>(position & ((1u << kPhaseShift) - 1)) * kBetweenRows;
        const float* l = &historyLeft[historyPos];
        const float* r = &historyRight[historyPos];
        float la = 0.0f, lb = 0.0f, ra = 0.0f, rb = 0.0f;
        for (std::size_t j = 0; j < kTaps; ++j) {
            la += a[j] * l[j];
            lb += b[j] * l[j];
            ra += a[j] * r[j];
            rb += b[j] * r[j];
        }
        outLeft[i] = la + t * (lb - la);
        outRight[i] = ra + t * (rb - ra);
        position += step;
        for (; position >= kOne; position -= kOne, ++next) take(inLeft[next], inRight[next]);
    }
}

void AudioPlaybackResampler::reset() {
    std::fill(historyLeft.begin(), historyLeft.end(), 0.0f);
    std::fill(historyRight.begin(), historyRight.end(), 0.0f);
    historyPos = 0;
    position = 0;
}
