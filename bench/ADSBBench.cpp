#include <benchmark/benchmark.h>

#include <vector>

#include "adsb/ADSBDecoder.h"
#include "sim/ADSBAircraftEmitter.h"

namespace {

// One second of 1090 MHz as a dongle delivers it: receiver noise (sigma 0.01 per component),
// optionally under a sky of `aircraft` transponders from 0 to 34 dB over it.
std::vector<IQSample> makeSky(int aircraft) {
    ADSBEmitterConfig config = ADSBAircraftEmitter::busySkyConfig(7, std::max(aircraft, 1));
    if (aircraft == 0) config.flights.clear();
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
            decoder.process(
                std::span(iq).subspan(pos, std::min<std::size_t>(4096, iq.size() - pos)));
        }
        benchmark::DoNotOptimize(messages);
    }
    const auto samples = state.iterations() * static_cast<std::int64_t>(iq.size());
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / 2'048'000.0, benchmark::Counter::kIsRate);
}

}  // namespace

// Noise only: the prefilter and the preamble fit run on every sample.
static void BM_ADSBDecoderNoise(benchmark::State& state) {
    const std::vector<IQSample> iq = makeSky(0);
    runDecoder(state, iq);
}
BENCHMARK(BM_ADSBDecoderNoise)->Unit(benchmark::kMillisecond);

// A busy sky: 40 aircraft with squitters, all-call and roll-call replies, many overlapping.
static void BM_ADSBDecoderBusySky(benchmark::State& state) {
    const std::vector<IQSample> iq = makeSky(40);
    runDecoder(state, iq);
}
BENCHMARK(BM_ADSBDecoderBusySky)->Unit(benchmark::kMillisecond);
