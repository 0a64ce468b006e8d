// Real-time factor of the channel filter per mode: signal seconds per CPU second at
// 2,048,000 samples/s in and 256,000 out, on 8,192-sample blocks as the processing loop
// reads them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/IQSample.h"
#include "dsp/ChannelFilter.h"
#include "sim/SimRandom.h"

namespace {

constexpr double kRate = 2'048'000.0;
constexpr std::size_t kBlock = 8'192;

// Wide-band receiver noise: the filter's cost does not depend on the signal.
std::vector<IQSample> bandNoise(std::size_t count) {
    SimRandom rng(3);
    std::vector<IQSample> out(count);
    for (IQSample& s : out) s = {0.1f * rng.gaussian(), 0.1f * rng.gaussian()};
    return out;
}

void BM_ChannelFilter(benchmark::State& state, ChannelFilterMode mode) {
    ChannelFilter filter(mode, {.inputRateHz = kRate, .decimation = 8});
    const std::vector<IQSample> in = bandNoise(kBlock);
    std::vector<IQSample> out(kBlock);
    for (auto _ : state) {
        filter.process(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    const auto samples =
        static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBlock);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / kRate, benchmark::Counter::kIsRate);
    state.counters["taps"] = static_cast<double>(filter.taps().size());
    state.counters["latency"] = static_cast<double>(filter.latencySamples());
}
BENCHMARK_CAPTURE(BM_ChannelFilter, wideFM, ChannelFilterMode::wideFM);
BENCHMARK_CAPTURE(BM_ChannelFilter, narrowFM, ChannelFilterMode::narrowFM);
BENCHMARK_CAPTURE(BM_ChannelFilter, am, ChannelFilterMode::am);

}  // namespace
