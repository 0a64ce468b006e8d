// Real-time factors of the analog chain's stages: signal seconds per CPU second at the
// stage's input rate (2,048,000 samples/s unless noted), on 8,192-sample blocks as the
// processing loop reads them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "device/IQSample.h"
#include "dsp/AMDemodulator.h"
#include "dsp/DCBlockFilter.h"
#include "dsp/DeEmphasisFilter.h"
#include "dsp/Decimator.h"
#include "dsp/FIRTaps.h"
#include "dsp/FMDemodulator.h"
#include "dsp/NoiseBlanker.h"
#include "dsp/StereoDecoder.h"
#include "dsp/StreamingFIRDecimator.h"
#include "sim/SimRandom.h"

namespace {

constexpr double kRate = 2'048'000.0;
constexpr std::size_t kBlock = 8'192;

// A wide-band FM station: 1 kHz and 3.7 kHz at 75 kHz deviation, with receiver noise.
std::vector<IQSample> fmStation(std::size_t count) {
    SimRandom rng(1);
    std::vector<IQSample> out(count);
    double phase = 0.0;
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double message = 0.6 * std::sin(2 * std::numbers::pi * 1'000.0 * t) +
                               0.4 * std::sin(2 * std::numbers::pi * 3'700.0 * t);
        phase += 2 * std::numbers::pi * 75'000.0 * message / kRate;
        out[n] = {static_cast<float>(0.5 * std::cos(phase)) + 0.02f * rng.gaussian(),
                  static_cast<float>(0.5 * std::sin(phase)) + 0.02f * rng.gaussian()};
    }
    return out;
}

// A stereo multiplex at 2,048,000 samples/s as the discriminator delivers it.
std::vector<float> stereoMultiplex(std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double theta = 2 * std::numbers::pi * 19'000.0 * t;
        const double l = 0.5 * std::sin(2 * std::numbers::pi * 1'000.0 * t);
        const double r = 0.5 * std::sin(2 * std::numbers::pi * 2'500.0 * t);
        out[n] =
            static_cast<float>(0.08 * (0.9 * ((l + r) / 2 + (l - r) / 2 * std::sin(2 * theta)) +
                                       0.1 * std::sin(theta)));
    }
    return out;
}

void reportRealtime(benchmark::State& state, std::size_t samplesPerIteration, double rate) {
    const auto samples = static_cast<std::int64_t>(state.iterations()) *
                         static_cast<std::int64_t>(samplesPerIteration);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / rate, benchmark::Counter::kIsRate);
}

void BM_FMDemodulator(benchmark::State& state) {
    FMDemodulator demod(0.35f);
    const std::vector<IQSample> in = fmStation(kBlock);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        demod.demodulate(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_FMDemodulator);

void BM_AMDemodulator(benchmark::State& state) {
    AMDemodulator am;
    const std::vector<IQSample> in = fmStation(kBlock);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        am.demodulate(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_AMDemodulator);

void BM_NoiseBlanker(benchmark::State& state) {
    NoiseBlanker nb;
    std::vector<IQSample> in = fmStation(kBlock);
    for (std::size_t n = 0; n < in.size(); n += 1'000) in[n] = {3.0f, 3.0f};  // impulses
    std::vector<IQSample> out(kBlock);
    for (auto _ : state) {
        nb.process(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_NoiseBlanker);

// First stage alone: 129 taps, factor 8, computing only the kept outputs.
void BM_StreamingFIRDecimator129x8(benchmark::State& state) {
    StreamingFIRDecimator fir(
        FIRTaps::lowpass({.sampleRate = kRate, .cutoffHz = 100'000.0, .numTaps = 129}), 8);
    const std::vector<float> in = stereoMultiplex(kBlock);
    std::vector<float> out(kBlock / 8 + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(fir.process(in, out));
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_StreamingFIRDecimator129x8);

void BM_Decimator40(benchmark::State& state) {
    Decimator decimator(40);
    const std::vector<float> in = stereoMultiplex(kBlock);
    std::vector<float> out(kBlock / 40 + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(decimator.process(in, out));
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_Decimator40);

// The decoder alone, at its own rate of 256,000 samples/s.
void BM_StereoDecoder(benchmark::State& state) {
    StereoDecoder decoder(256'000.0);
    const std::vector<float> in = stereoMultiplex(kBlock / 8);
    std::vector<float> left(in.size()), right(in.size());
    for (auto _ : state) {
        decoder.process(in, left, right);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    reportRealtime(state, in.size(), 256'000.0);
}
BENCHMARK(BM_StereoDecoder);

// The loop's stereo rate reduction: pre-decimator (129 taps, factor 8), decoder at 256 kHz,
// left and right decimators (129 taps, factor 5); real time at 2,048,000 samples/s.
void BM_StereoPath(benchmark::State& state) {
    StreamingFIRDecimator pre(
        FIRTaps::lowpass({.sampleRate = kRate, .cutoffHz = 100'000.0, .numTaps = 129}), 8);
    StereoDecoder decoder(256'000.0);
    const auto audioTaps =
        FIRTaps::lowpass({.sampleRate = 256'000.0, .cutoffHz = 15'000.0, .numTaps = 129});
    StreamingFIRDecimator leftDecimator(audioTaps, 5), rightDecimator(audioTaps, 5);
    const std::vector<float> in = stereoMultiplex(kBlock);
    std::vector<float> mpx(kBlock / 8 + 1), left(mpx.size()), right(mpx.size());
    std::vector<float> leftAudio(mpx.size() / 5 + 1), rightAudio(mpx.size() / 5 + 1);
    for (auto _ : state) {
        const std::size_t n = pre.process(in, mpx);  // from here on: 256 kHz
        const std::span<const float> m(mpx.data(), n);
        decoder.process(m, left, right);
        // from here on: 51.2 kHz
        benchmark::DoNotOptimize(
            leftDecimator.process(std::span<const float>(left.data(), n), leftAudio));
        benchmark::DoNotOptimize(
            rightDecimator.process(std::span<const float>(right.data(), n), rightAudio));
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_StereoPath);

// The loop's mono FM audio: discriminator, decimation by 40, de-emphasis, DC block.
void BM_MonoFMChain(benchmark::State& state) {
    FMDemodulator demod(0.35f);
    Decimator decimator(40);
    DeEmphasisFilter deEmphasis({.sampleRate = 51'200.0, .timeConstantMicroseconds = 50.0});
    DCBlockFilter dcBlock;
    const std::vector<IQSample> in = fmStation(kBlock);
    std::vector<float> mpx(kBlock), audio(kBlock / 40 + 1);
    for (auto _ : state) {
        demod.demodulate(in, mpx);
        const std::size_t n = decimator.process(mpx, audio);  // from here on: 51.2 kHz
        const std::span<float> a(audio.data(), n);
        deEmphasis.process(a, a);
        dcBlock.process(a, a);
        benchmark::DoNotOptimize(audio.data());
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_MonoFMChain);

}  // namespace
