#include "dsp/ChannelFilter.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>

#include "dsp/FFTWPlannerLock.h"
#include "platform/DebugLog.h"

namespace {

struct ChannelEdges {
    double passbandHz;
    double stopbandHz;
};

constexpr ChannelEdges edgesFor(ChannelFilterMode mode) {
    switch (mode) {
        case ChannelFilterMode::wideFM:
            return {.passbandHz = 125'000.0, .stopbandHz = 200'000.0};
        case ChannelFilterMode::narrowFM:
            return {.passbandHz = 7'500.0, .stopbandHz = 12'500.0};
        case ChannelFilterMode::am:
            return {.passbandHz = 5'000.0, .stopbandHz = 10'000.0};
    }
    return {};
}

// Design stop-band attenuation: 10 dB above the 60 dB the next channel must be down, which
// also covers float rounding in the FFT (its noise floor sits near -130 dB).
constexpr double kDesignStopbandDB = 70.0;

// 2,048 points: a frame and its spectrum fill a 32 KiB L1 data cache; the fastest size
// for the short wide-FM filter.
constexpr std::size_t kMinFFTSize = 2'048;

std::size_t modeIndex(ChannelFilterMode mode) {
    return static_cast<std::size_t>(mode);
}

double hzToCyclesPerSample(double hz, double sampleRateHz) {
    return hz / sampleRateHz;
}

// Kaiser-windowed sinc (Kaiser 1974; Oppenheim & Schafer, Discrete-Time Signal Processing,
// 7.5.3): beta and the length from the attenuation and the transition width, cutoff in the
// middle of the transition. Odd length, so the group delay is a whole number of samples.
std::vector<float> designTaps(const ChannelEdges& edges, double sampleRateHz) {
    const double a = kDesignStopbandDB;
    const double beta = 0.1102 * (a - 8.7);  // valid for a > 50 dB
    const double transitionRad =
        2.0 * std::numbers::pi *
        hzToCyclesPerSample(edges.stopbandHz - edges.passbandHz, sampleRateHz);
    const auto order = static_cast<std::size_t>(std::ceil((a - 8.0) / (2.285 * transitionRad)));
    const std::size_t count = (order + 1) | 1;  // at least order + 1 taps, an odd count
    const double centre = static_cast<double>(count - 1) / 2.0;
    const double fc =
        hzToCyclesPerSample((edges.passbandHz + edges.stopbandHz) / 2.0, sampleRateHz);
    const double windowNorm = std::cyl_bessel_i(0.0, beta);

    std::vector<double> h(count);
    double sum = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) - centre;
        const double sinc =
            (t == 0.0) ? 2.0 * fc
                       : std::sin(2.0 * std::numbers::pi * fc * t) / (std::numbers::pi * t);
        const double r = t / centre;
        const double w =
            std::cyl_bessel_i(0.0, beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / windowNorm;
        h[k] = sinc * w;
        sum += h[k];
    }
    std::vector<float> taps(count);
    for (std::size_t k = 0; k < count; ++k) taps[k] = static_cast<float>(h[k] / sum);
    return taps;
}

// FFT size: the smallest power of two at least twice the tap count, so that more than half
// of each frame is new output, but no less than kMinFFTSize. Larger frames measured slower
// with FFTW_ESTIMATE plans on 8,192-sample blocks (bench/ChannelFilterBench.cpp).
std::size_t chooseFFTSize(std::size_t tapCount) {
    return std::max(kMinFFTSize, std::bit_ceil(2 * tapCount));
}

fftwf_complex* asComplex(float* interleaved) {
    return reinterpret_cast<fftwf_complex*>(interleaved);
}

struct FFTWFree {
    void operator()(float* p) const noexcept { fftwf_free(p); }
};
using FFTWBuffer = std::unique_ptr<float[], FFTWFree>;

struct FFTWPlanDestroyer {
    void operator()(fftwf_plan_s* plan) const noexcept {
        std::lock_guard lock(fftwPlannerMutex());
        fftwf_destroy_plan(plan);
    }
};
using FFTWPlan = std::unique_ptr<fftwf_plan_s, FFTWPlanDestroyer>;

// Zeroed, FFTW-aligned room for `points` complex values.
FFTWBuffer makeComplexBuffer(std::size_t points) {
    FFTWBuffer buffer(static_cast<float*>(fftwf_malloc(2 * points * sizeof(float))));
    if (!buffer) std::abort();  // out of memory at set-up
    std::fill_n(buffer.get(), 2 * points, 0.0f);
    return buffer;
}

}  // namespace

// One mode's overlap-save engine. A frame of n complex samples holds the last M - 1 inputs
// of the previous frame followed by `hop` = n - M + 1 new ones. The taps sit centred on
// index 0 of the circular kernel, so the response is real (zero phase) and the product per
// bin is two real multiplies; the valid outputs of a frame are indices c .. n - c - 1,
// c = (M - 1) / 2, the zero-phase filtered samples centred on the same frame indices.
// While the next frame fills, its new input at position M - 1 + r is swapped for output
// c + r of the last frame: a delay of hop + c samples.
class ChannelFilter::OverlapSave {
public:
    OverlapSave(std::vector<float> designedTaps, double passHz, double stopHz);
    void process(const IQSample* in, IQSample* out, std::size_t count);
    void reset();

    const std::vector<float> taps;
    const double passbandHz;
    const double stopbandHz;
    const std::size_t n;       // FFT size
    const std::size_t centre;  // c = (M - 1) / 2
    const std::size_t hop;     // new samples per frame, n - 2c

private:
    void runFrame();

    FFTWBuffer frame;         // time-domain input frame, interleaved (i, q)
    FFTWBuffer spectrum;      // the frame's spectrum, then in place its filtered output
    std::vector<float> gain;  // real response / n, repeated for re and im of each bin
    FFTWPlan forward;         // frame -> spectrum
    FFTWPlan inverse;         // spectrum -> spectrum
    std::size_t fill = 0;     // new samples in the current frame, 0 .. hop - 1
};

ChannelFilter::OverlapSave::OverlapSave(std::vector<float> designedTaps, double passHz,
                                        double stopHz)
    : taps(std::move(designedTaps)),
      passbandHz(passHz),
      stopbandHz(stopHz),
      n(chooseFFTSize(taps.size())),
      centre((taps.size() - 1) / 2),
      hop(n - 2 * centre),
      frame(makeComplexBuffer(n)),
      spectrum(makeComplexBuffer(n)),
      gain(2 * n) {
    {
        // FFTW_ESTIMATE: plans depend on the size only (every filter of one mode computes
        // the same output) and planning leaves the buffers alone.
        std::lock_guard lock(fftwPlannerMutex());
        const int size = static_cast<int>(n);
        forward.reset(fftwf_plan_dft_1d(size, asComplex(frame.get()), asComplex(spectrum.get()),
                                        FFTW_FORWARD, FFTW_ESTIMATE));
        inverse.reset(fftwf_plan_dft_1d(size, asComplex(spectrum.get()), asComplex(spectrum.get()),
                                        FFTW_BACKWARD, FFTW_ESTIMATE));
    }
    if (!forward || !inverse) {
        DebugLog::write("Ne mogu inicijalizirati FFT setup kanalnog filtra");
        std::abort();
    }
    // Tap k at circular index k - c. The response is real up to rounding; its imaginary
    // part is dropped. 1/n undoes FFTW's unscaled inverse.
    for (std::size_t k = 0; k < taps.size(); ++k) {
        const std::size_t index = (k + n - centre) % n;
        frame[2 * index] = taps[k];
    }
    fftwf_execute(forward.get());
    const float scale = 1.0f / static_cast<float>(n);
    for (std::size_t m = 0; m < n; ++m) {
        gain[2 * m] = spectrum[2 * m] * scale;
        gain[2 * m + 1] = spectrum[2 * m] * scale;
    }
    reset();
}

void ChannelFilter::OverlapSave::reset() {
    std::fill_n(frame.get(), 2 * n, 0.0f);
    std::fill_n(spectrum.get(), 2 * n, 0.0f);
    fill = 0;
}

void ChannelFilter::OverlapSave::process(const IQSample* in, IQSample* out, std::size_t count) {
    const std::size_t overlap = 2 * centre;
    while (count > 0) {
        const std::size_t k = std::min(count, hop - fill);
        // Input first: with out == in the samples are taken before they are overwritten.
        std::memcpy(frame.get() + 2 * (overlap + fill), in, k * sizeof(IQSample));
        std::memcpy(static_cast<void*>(out), spectrum.get() + 2 * (centre + fill),
                    k * sizeof(IQSample));
        in += k;
        out += k;
        count -= k;
        fill += k;
        if (fill == hop) {
            runFrame();
            fill = 0;
        }
    }
}

void ChannelFilter::OverlapSave::runFrame() {
    // The last frame's output has all been handed out; the forward transform overwrites it.
    fftwf_execute(forward.get());
    float* s = spectrum.get();
    const float* g = gain.data();
    for (std::size_t j = 0; j < 2 * n; ++j) s[j] *= g[j];
    fftwf_execute(inverse.get());
    // Keep the last M - 1 inputs as the head of the next frame.
    std::memmove(frame.get(), frame.get() + 2 * hop, 2 * centre * 2 * sizeof(float));
}

ChannelFilter::ChannelFilter(ChannelFilterMode mode, double sampleRateHz) : current(mode) {
    assert(sampleRateHz > 2.0 * edgesFor(ChannelFilterMode::wideFM).stopbandHz);
    for (ChannelFilterMode m :
         {ChannelFilterMode::wideFM, ChannelFilterMode::narrowFM, ChannelFilterMode::am}) {
        const ChannelEdges edges = edgesFor(m);
        filters[modeIndex(m)] = std::make_unique<OverlapSave>(designTaps(edges, sampleRateHz),
                                                              edges.passbandHz, edges.stopbandHz);
    }
}

ChannelFilter::~ChannelFilter() = default;

ChannelFilter::OverlapSave& ChannelFilter::active() const {
    return *filters[modeIndex(current)];
}

void ChannelFilter::setMode(ChannelFilterMode newMode) {
    if (newMode == current) return;
    current = newMode;
    active().reset();
}

void ChannelFilter::process(std::span<const IQSample> in, std::span<IQSample> out) {
    assert(out.size() == in.size());
    active().process(in.data(), out.data(), in.size());
}

std::vector<IQSample> ChannelFilter::process(std::span<const IQSample> in) {
    std::vector<IQSample> out(in.size());
    process(in, out);
    return out;
}

void ChannelFilter::reset() {
    active().reset();  // the other modes are cleared when switched to
}

double ChannelFilter::passbandHz() const {
    return active().passbandHz;
}

double ChannelFilter::stopbandHz() const {
    return active().stopbandHz;
}

std::size_t ChannelFilter::latencySamples() const {
    return active().hop + active().centre;
}

std::span<const float> ChannelFilter::taps() const {
    return active().taps;
}
