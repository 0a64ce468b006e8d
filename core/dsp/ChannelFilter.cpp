#include "dsp/ChannelFilter.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "dsp/FFTWPlannerLock.h"
#include "dsp/FIRTaps.h"
#include "platform/DebugLog.h"

namespace {

struct ChannelEdges {
    double passbandHz;
    double stopbandHz;
};

constexpr ChannelEdges edgesFor(ChannelFilterMode mode) {
    switch (mode) {
        case ChannelFilterMode::wideFM:
            return {.passbandHz = 110'000.0, .stopbandHz = 146'000.0};
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
//
// Decimation by D: c and the hop are multiples of D (the design pads the taps), so the kept
// frame indices c, c + D, ... lie on one grid across frames. Summing the D aliased segments
// of the filtered spectrum gives the spectrum of y[0], y[D], y[2D], ..., which an inverse
// FFT of n / D points returns.
//
// While the next frame fills, its new input at position M - 1 + r is swapped, at each r that
// is a multiple of D, for output (c + r) / D of the last frame: a delay of hop + c samples.
class ChannelFilter::OverlapSave {
public:
    OverlapSave(std::vector<float> designedTaps, ChannelEdges edges, std::size_t decimation);
    std::size_t process(const IQSample* in, IQSample* out, std::size_t count);
    std::size_t outputCount(std::size_t count) const;
    void reset();

    const std::vector<float> taps;
    const ChannelEdges edges;
    const std::size_t decimation;  // D
    const std::size_t n;           // FFT size
    const std::size_t centre;      // c = (M - 1) / 2, a multiple of D
    const std::size_t hop;         // new samples per frame, n - 2c, a multiple of D

private:
    void runFrame();

    FFTWBuffer frame;         // time-domain input frame, interleaved (i, q)
    FFTWBuffer spectrum;      // the frame's spectrum
    FFTWBuffer folded;        // n / D bins of the filtered spectrum, then in place the output
    std::vector<float> gain;  // real response / n, repeated for re and im of each bin
    FFTWPlan forward;         // frame -> spectrum, n points
    FFTWPlan inverse;         // folded -> folded, n / D points
    std::size_t fill = 0;     // new samples in the current frame, 0 .. hop - 1
};

ChannelFilter::OverlapSave::OverlapSave(std::vector<float> designedTaps, ChannelEdges channel,
                                        std::size_t decimationFactor)
    : taps(std::move(designedTaps)),
      edges(channel),
      decimation(decimationFactor),
      n(chooseFFTSize(taps.size())),
      centre((taps.size() - 1) / 2),
      hop(n - 2 * centre),
      frame(makeComplexBuffer(n)),
      spectrum(makeComplexBuffer(n)),
      folded(makeComplexBuffer(n / decimation)),
      gain(2 * n) {
    assert(centre % decimation == 0 && n % decimation == 0);
    {
        // FFTW_ESTIMATE: plans depend on the size only (every filter of one mode computes
        // the same output) and planning leaves the buffers alone.
        std::lock_guard lock(fftwPlannerMutex());
        forward.reset(fftwf_plan_dft_1d(static_cast<int>(n), asComplex(frame.get()),
                                        asComplex(spectrum.get()), FFTW_FORWARD, FFTW_ESTIMATE));
        inverse.reset(fftwf_plan_dft_1d(static_cast<int>(n / decimation), asComplex(folded.get()),
                                        asComplex(folded.get()), FFTW_BACKWARD, FFTW_ESTIMATE));
    }
    if (!forward || !inverse) {
        DebugLog::write("Ne mogu inicijalizirati FFT setup kanalnog filtra");
        std::abort();
    }
    // Tap k at circular index k - c. The response is real up to rounding; its imaginary
    // part is dropped. 1/n undoes FFTW's unscaled inverse (of n points; the fold's n / D
    // points see the same sum).
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
    std::fill_n(folded.get(), 2 * (n / decimation), 0.0f);
    fill = 0;
}

// Outputs fall on the new-sample positions r of a frame that are multiples of D.
std::size_t ChannelFilter::OverlapSave::outputCount(std::size_t count) const {
    const std::size_t d = decimation;
    return (fill + count + d - 1) / d - (fill + d - 1) / d;
}

std::size_t ChannelFilter::OverlapSave::process(const IQSample* in, IQSample* out,
                                                std::size_t count) {
    const std::size_t overlap = 2 * centre;
    const std::size_t d = decimation;
    const auto* ready = reinterpret_cast<const IQSample*>(folded.get());
    std::size_t written = 0;
    while (count > 0) {
        const std::size_t k = std::min(count, hop - fill);
        // Input first: with out == in the samples are taken before they are overwritten.
        std::memcpy(frame.get() + 2 * (overlap + fill), in, k * sizeof(IQSample));
        for (std::size_t r = (fill + d - 1) / d * d; r < fill + k; r += d)
            out[written++] = ready[(centre + r) / d];
        in += k;
        count -= k;
        fill += k;
        if (fill == hop) {
            runFrame();
            fill = 0;
        }
    }
    return written;
}

void ChannelFilter::OverlapSave::runFrame() {
    fftwf_execute(forward.get());
    // The last frame's output has all been handed out; the fold overwrites it.
    const std::size_t bins = 2 * (n / decimation);  // floats per segment
    float* f = folded.get();
    const float* s = spectrum.get();
    const float* g = gain.data();
    for (std::size_t j = 0; j < bins; ++j) f[j] = s[j] * g[j];
    for (std::size_t segment = 1; segment < decimation; ++segment) {
        const float* ss = s + segment * bins;
        const float* gs = g + segment * bins;
        for (std::size_t j = 0; j < bins; ++j) f[j] += ss[j] * gs[j];
    }
    fftwf_execute(inverse.get());
    // Keep the last M - 1 inputs as the head of the next frame.
    std::memmove(frame.get(), frame.get() + 2 * hop, 2 * centre * 2 * sizeof(float));
}

ChannelFilter::ChannelFilter(ChannelFilterMode mode, const ChannelFilterConfig& config)
    : inputRateHz(config.inputRateHz), decimation(std::max(config.decimation, 1)), current(mode) {
    const ChannelEdges wide = edgesFor(ChannelFilterMode::wideFM);
    assert(outputRateHz() >= wide.passbandHz + wide.stopbandHz);
    for (ChannelFilterMode m :
         {ChannelFilterMode::wideFM, ChannelFilterMode::narrowFM, ChannelFilterMode::am}) {
        const ChannelEdges edges = edgesFor(m);
        std::vector<float> taps = FIRTaps::kaiserLowpass({.sampleRateHz = inputRateHz,
                                                          .passbandHz = edges.passbandHz,
                                                          .stopbandHz = edges.stopbandHz,
                                                          .attenuationDB = kDesignStopbandDB,
                                                          .centreMultiple = decimation});
        filters[modeIndex(m)] = std::make_unique<OverlapSave>(std::move(taps), edges,
                                                              static_cast<std::size_t>(decimation));
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

std::size_t ChannelFilter::process(std::span<const IQSample> in, std::span<IQSample> out) {
    assert(out.size() >= outputCount(in.size()));
    return active().process(in.data(), out.data(), in.size());
}

std::vector<IQSample> ChannelFilter::process(std::span<const IQSample> in) {
    std::vector<IQSample> out(outputCount(in.size()));
    process(in, out);
    return out;
}

std::size_t ChannelFilter::outputCount(std::size_t inputCount) const {
    return active().outputCount(inputCount);
}

void ChannelFilter::reset() {
    active().reset();  // the other modes are cleared when switched to
}

double ChannelFilter::passbandHz() const {
    return active().edges.passbandHz;
}

double ChannelFilter::stopbandHz() const {
    return active().edges.stopbandHz;
}

std::size_t ChannelFilter::latencySamples() const {
    return active().hop + active().centre;
}

std::span<const float> ChannelFilter::taps() const {
    return active().taps;
}
