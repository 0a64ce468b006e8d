#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/IQSample.h"
#include "sim/DABEmitter.h"
#include "sim/DemoScene.h"
#include "sim/FMBroadcastEmitter.h"
#include "sim/SimUnits.h"
#include "sim/VirtualRtlSdr.h"

namespace {
constexpr std::size_t kBufferSamples = 65'536;
// Where the receiver sits when listening to 92.1 MHz: 40 kHz above the station.
constexpr double kListenCenterHz = kDemoStartFrequencyHz + 40'000.0;

void reportRealtime(benchmark::State& state) {
    const auto samples = state.iterations() * static_cast<std::int64_t>(kBufferSamples);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / kSimSampleRateHz, benchmark::Counter::kIsRate);
}
}  // namespace

// The demo scene at the start view: three FM stations in the 2 MHz window.
static void BM_DemoSceneRender(benchmark::State& state) {
    const auto scene = makeDemoScene();
    std::vector<IQSample> out(kBufferSamples);
    std::uint64_t index = 0;
    for (auto _ : state) {
        scene->render(out, kListenCenterHz, -113.0, index);
        index += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state);
}
BENCHMARK(BM_DemoSceneRender);

// One stereo FM station alone.
static void BM_FMBroadcastEmitter(benchmark::State& state) {
    FMBroadcastEmitter emitter(FMBroadcastConfig{
        .programme = {.left = {{.frequencyHz = 1'000.0}}, .right = {{.frequencyHz = 2'000.0}}}});
    std::vector<IQSample> out(kBufferSamples);
    std::uint64_t index = 0;
    for (auto _ : state) {
        emitter.render(out, {.offsetHz = -40'000.0, .sampleIndex = index});
        index += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state);
}
BENCHMARK(BM_FMBroadcastEmitter);

// The whole dongle: scene, noise, gain, DC offset and 8-bit quantisation, without pacing.
static void BM_VirtualRtlSdrBuffer(benchmark::State& state) {
    VirtualRtlSdr dongle(makeDemoScene(), {.speed = 0.0});
    RtlSdrApi::Handle handle = nullptr;
    dongle.open(&handle, 0);
    dongle.setCenterFreq(handle, static_cast<std::uint32_t>(kListenCenterHz));
    dongle.setTunerGainMode(handle, 1);
    dongle.setTunerGain(handle, 220);
    dongle.setFreqCorrection(handle, -113);
    std::vector<unsigned char> bytes(2 * kBufferSamples);
    for (auto _ : state) {
        dongle.renderBuffer(bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    reportRealtime(state);
}
BENCHMARK(BM_VirtualRtlSdrBuffer);

// One DAB ensemble as the dongle sees it: OFDM frames (about 800 inverse FFTs per second),
// the windowed-sinc read at a +20 ppm clock, the echo and the mix to a 300 Hz offset, with the
// four DAB+ programmes replayed from their encoded loops.
static void BM_DABEmitter(benchmark::State& state) {
    const DemoDABEnsemble e = demoDABEnsembles()[1];
    DABEmitter emitter(demoDABEmitterConfig(e));
    std::vector<IQSample> out(kBufferSamples);
    std::uint64_t index = 0;
    for (auto _ : state) {
        std::fill(out.begin(), out.end(), IQSample{});
        emitter.render(out, {.offsetHz = 300.0, .sampleIndex = index, .clockErrorPPM = 20.0});
        index += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state);
}
BENCHMARK(BM_DABEmitter);
