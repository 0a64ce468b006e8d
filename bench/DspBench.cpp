// Real-time factors of the analog chain's stages: signal seconds per CPU second at the
// stage's input rate, on blocks as the processing loop hands them over (8,192 samples at
// 2,048,000 samples/s before the channel filter, 1,024 at 256,000 samples/s after it).
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
#include "dsp/FMDemodulator.h"
#include "dsp/NoiseBlanker.h"
#include "dsp/StereoDecoder.h"
#include "sim/SimRandom.h"

namespace {

constexpr double kRate = 2'048'000.0;
constexpr std::size_t kBlock = 8'192;
constexpr double kChannelRate = 256'000.0;
constexpr std::size_t kChannelBlock = kBlock / 8;

// A wide-band FM station: 1 kHz and 3.7 kHz at 75 kHz deviation, with receiver noise.
std::vector<IQSample> fmStation(std::size_t count, double rate) {
    SimRandom rng(1);
    std::vector<IQSample> out(count);
    double phase = 0.0;
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double message = 0.6 * std::sin(2 * std::numbers::pi * 1'000.0 * t) +
                               0.4 * std::sin(2 * std::numbers::pi * 3'700.0 * t);
        phase += 2 * std::numbers::pi * 75'000.0 * message / rate;
        out[n] = {static_cast<float>(0.5 * std::cos(phase)) + 0.02f * rng.gaussian(),
                  static_cast<float>(0.5 * std::sin(phase)) + 0.02f * rng.gaussian()};
    }
    return out;
}

// A stereo multiplex at 256,000 samples/s as the discriminator delivers it.
std::vector<float> stereoMultiplex(std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / kChannelRate;
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
    FMDemodulator demod(0.35f / 8.0f);
    const std::vector<IQSample> in = fmStation(kChannelBlock, kChannelRate);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        demod.demodulate(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, in.size(), kChannelRate);
}
BENCHMARK(BM_FMDemodulator);

void BM_AMDemodulator(benchmark::State& state) {
    AMDemodulator am(kChannelRate);
    const std::vector<IQSample> in = fmStation(kChannelBlock, kChannelRate);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        am.demodulate(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, in.size(), kChannelRate);
}
BENCHMARK(BM_AMDemodulator);

void BM_NoiseBlanker(benchmark::State& state) {
    NoiseBlanker nb;
    std::vector<IQSample> in = fmStation(kBlock, kRate);
    for (std::size_t n = 0; n < in.size(); n += 1'000) in[n] = {3.0f, 3.0f};  // impulses
    std::vector<IQSample> out(kBlock);
    for (auto _ : state) {
        nb.process(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, kBlock, kRate);
}
BENCHMARK(BM_NoiseBlanker);

// The audio decimator alone (mono, or one stereo channel): 256 kHz to 51.2 kHz.
void BM_AudioDecimator(benchmark::State& state) {
    Decimator decimator(5, kChannelRate);
    const std::vector<float> in = stereoMultiplex(kChannelBlock);
    std::vector<float> out(in.size() / 5 + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(decimator.process(in, out));
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state, in.size(), kChannelRate);
    state.counters["taps"] = static_cast<double>(decimator.taps().size());
}
BENCHMARK(BM_AudioDecimator);

// The decoder alone, at its own rate of 256,000 samples/s.
void BM_StereoDecoder(benchmark::State& state) {
    StereoDecoder decoder(kChannelRate);
    const std::vector<float> in = stereoMultiplex(kChannelBlock);
    std::vector<float> left(in.size()), right(in.size());
    for (auto _ : state) {
        decoder.process(in, left, right);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    reportRealtime(state, in.size(), kChannelRate);
}
BENCHMARK(BM_StereoDecoder);

// The loop's stereo path after the discriminator: decoder, then left and right audio
// decimators (factor 5).
void BM_StereoPath(benchmark::State& state) {
    StereoDecoder decoder(kChannelRate);
    Decimator leftDecimator(5, kChannelRate), rightDecimator(5, kChannelRate);
    const std::vector<float> in = stereoMultiplex(kChannelBlock);
    std::vector<float> left(in.size()), right(in.size());
    std::vector<float> leftAudio(in.size() / 5 + 1), rightAudio(in.size() / 5 + 1);
    for (auto _ : state) {
        decoder.process(in, left, right);
        // from here on: 51.2 kHz
        benchmark::DoNotOptimize(leftDecimator.process(left, leftAudio));
        benchmark::DoNotOptimize(rightDecimator.process(right, rightAudio));
    }
    reportRealtime(state, in.size(), kChannelRate);
}
BENCHMARK(BM_StereoPath);

// The loop's mono FM audio after the channel filter: discriminator, audio decimator,
// de-emphasis, DC block.
void BM_MonoFMChain(benchmark::State& state) {
    FMDemodulator demod(0.35f / 8.0f);
    Decimator decimator(5, kChannelRate);
    DeEmphasisFilter deEmphasis({.sampleRate = 51'200.0, .timeConstantMicroseconds = 50.0});
    DCBlockFilter dcBlock;
    const std::vector<IQSample> in = fmStation(kChannelBlock, kChannelRate);
    std::vector<float> mpx(in.size()), audio(in.size() / 5 + 1);
    for (auto _ : state) {
        demod.demodulate(in, mpx);
        const std::size_t n = decimator.process(mpx, audio);  // from here on: 51.2 kHz
        const std::span<float> a(audio.data(), n);
        deEmphasis.process(a, a);
        dcBlock.process(a, a);
        benchmark::DoNotOptimize(audio.data());
    }
    reportRealtime(state, in.size(), kChannelRate);
}
BENCHMARK(BM_MonoFMChain);

}  // namespace
