#include <benchmark/benchmark.h>

#include <vector>

#include "adsb/ADSBDecoder.h"
#include "sim/ADSBAircraftEmitter.h"

namespace {

// One second of sky: the demo's three aircraft over receiver noise.
std::vector<IQSample> makeSky(float noiseSigma) {
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(48.35, 11.78);
    config.noiseSigma = noiseSigma;
    const ADSBAircraftEmitter emitter(config);
    std::vector<IQSample> iq(2'048'000);
    emitter.render(iq, 0);
    return iq;
}

void runDecoder(benchmark::State& state, const std::vector<IQSample>& iq) {
    ADSBDecoder decoder;
    int messages = 0;
    decoder.onMessage = [&messages](const DecodedADSBMessage&) { ++messages; };
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < iq.size(); pos += 4096) {
            decoder.process(std::span(iq).subspan(pos, std::min<std::size_t>(4096, iq.size() - pos)));
        }
        benchmark::DoNotOptimize(messages);
    }
    const auto samples = state.iterations() * static_cast<std::int64_t>(iq.size());
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / 2'048'000.0, benchmark::Counter::kIsRate);
}

}  // namespace

// Quiet band: receiver noise well below the 0.02 pulse floor.
static void BM_ADSBDecoderQuiet(benchmark::State& state) {
    const std::vector<IQSample> iq = makeSky(0.004f);
    runDecoder(state, iq);
}
BENCHMARK(BM_ADSBDecoderQuiet)->Unit(benchmark::kMillisecond);

// Noise around the pulse floor: most samples pass the first test and reach the full search.
static void BM_ADSBDecoderNoisy(benchmark::State& state) {
    const std::vector<IQSample> iq = makeSky(0.03f);
    runDecoder(state, iq);
}
BENCHMARK(BM_ADSBDecoderNoisy)->Unit(benchmark::kMillisecond);
