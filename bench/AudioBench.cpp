#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "audio/AudioOutput.h"
#include "dsp/FFTAnalyzer.h"
#include "sim/SimRandom.h"

namespace {

std::vector<IQSample> benchNoise(std::size_t count) {
    SimRandom rng(/*seed=*/1);
    std::vector<IQSample> out(count);
    for (auto& s : out) s = {0.1f * rng.gaussian(), 0.1f * rng.gaussian()};
    return out;
}

// Hands the render callback to the benchmark, which calls it as the device thread would.
class BenchSink final : public AudioSink {
public:
    explicit BenchSink(double rateHz = 51'200.0) : rateHz(rateHz) {}
    void start(RenderCallback render) override { callback = std::move(render); }
    void stop() override {}
    bool isRunning() const override { return true; }
    double deviceSampleRate() const override { return rateHz; }
    double rateHz;
    RenderCallback callback;
};

}  // namespace

// One spectrum consumes 1,024 IQ samples; "realtime" is the multiple of 2,048,000 samples/s
// that the analyser could keep up with if it saw every sample.
static void BM_FFTAnalyzer1024(benchmark::State& state) {
    const FFTAnalyzer analyzer(1024);
    FFTAnalyzer::Scratch scratch(1024);
    const std::vector<IQSample> in = benchNoise(1024);
    std::vector<float> out(1024);
    for (auto _ : state) {
        analyzer.magnitudeSpectrum(in, out, scratch);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["realtime"] =
        benchmark::Counter(state.iterations() * 1024.0 / 2'048'000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FFTAnalyzer1024);

// The returning form, as the analysis queue calls it: allocates its buffers per call.
static void BM_FFTAnalyzer1024Returning(benchmark::State& state) {
    const FFTAnalyzer analyzer(1024);
    const std::vector<IQSample> in = benchNoise(1024);
    for (auto _ : state) {
        auto spectrum = analyzer.magnitudeSpectrum(in);
        benchmark::DoNotOptimize(spectrum->data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["realtime"] =
        benchmark::Counter(state.iterations() * 1024.0 / 2'048'000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FFTAnalyzer1024Returning);

// One period's audio pushed and one device period pulled through the resampler at the
// 1:1 ratio (a device that runs at 51,200 Hz): the steady-state path.
// "realtime" is audio seconds per CPU second at 51,200 samples/s.
static void BM_AudioOutputPushPull(benchmark::State& state) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    BenchSink* sink = nullptr;
    AudioOutput output(51'200.0, 0.5f, [&](double) {
        auto s = std::make_unique<BenchSink>();
        sink = s.get();
        return s;
    });
    output.start();
    const std::vector<float> left(frames, 0.25f), right(frames, -0.25f);
    std::vector<float> outLeft(frames), outRight(frames);
    while (output.bufferedSampleCount() < 20'480) output.pushStereo(left, right);  // the prime
    for (auto _ : state) {
        output.pushStereo(left, right);
        sink->callback(outLeft, outRight, 0.0);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
    }
    const auto samples = state.iterations() * static_cast<std::int64_t>(frames);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(samples / 51'200.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AudioOutputPushPull)->Arg(512)->Arg(2048);

// The common desktop case: 51,200 Hz audio onto a 48,000 Hz device, 512 samples pushed and
// 480 frames pulled per 10 ms period.
static void BM_AudioOutputResample48k(benchmark::State& state) {
    BenchSink* sink = nullptr;
    AudioOutput output(51'200.0, 0.5f, [&](double) {
        auto s = std::make_unique<BenchSink>(48'000.0);
        sink = s.get();
        return s;
    });
    output.start();
    const std::vector<float> block(512, 0.25f);
    std::vector<float> outLeft(480), outRight(480);
    while (output.bufferedSampleCount() < 20'480) output.push(block);
    for (auto _ : state) {
        output.push(block);
        sink->callback(outLeft, outRight, 0.0);
        benchmark::DoNotOptimize(outLeft.data());
    }
    const auto frames = state.iterations() * std::int64_t{480};
    state.SetItemsProcessed(frames);
    state.counters["realtime"] = benchmark::Counter(frames / 48'000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AudioOutputResample48k);
