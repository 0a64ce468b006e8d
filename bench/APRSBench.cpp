#include <benchmark/benchmark.h>

#include <vector>

#include "aprs/APRSDecoder.h"
#include "sim/APRSStationSchedule.h"
#include "sim/SimRandom.h"

// Twenty seconds of the demo APRS channel (packets and silence) with noise, at 51,200 samples/s.
static void BM_APRSDecoder(benchmark::State& state) {
    constexpr double kRate = 51'200.0;
    APRSStationSchedule schedule(APRSStationSchedule::demoStations(45.81, 15.98), {});
    std::vector<float> audio(static_cast<std::size_t>(20 * kRate));
    schedule.render(audio);
    SimRandom rng(1);
    for (float& s : audio) s += 0.05f * rng.gaussian();
    APRSDecoder decoder(kRate);
    int packets = 0;
    decoder.onPacket = [&packets](const APRSPacket&) { ++packets; };
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < audio.size(); pos += 2048) {
            decoder.process(std::span(audio).subspan(pos, std::min<std::size_t>(2048, audio.size() - pos)));
        }
        benchmark::DoNotOptimize(packets);
    }
    const auto samples = state.iterations() * static_cast<std::int64_t>(audio.size());
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_APRSDecoder)->Unit(benchmark::kMillisecond);
