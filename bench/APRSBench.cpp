#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "aprs/APRSDecoder.h"
#include "dsp/AudioResampler.h"
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

// A recording's audio at 22,050 samples/s to the decoder's 51,200, as `aprs --wav` does it;
// real time is counted at the input rate.
static void BM_AudioResampler22050To51200(benchmark::State& state) {
    constexpr double kRate = 22'050.0;
    std::vector<float> audio(static_cast<std::size_t>(10 * kRate));
    SimRandom rng(2);
    for (float& s : audio) s = 0.3f * rng.gaussian();
    std::string error;
    const auto resampler =
        AudioResampler::create({.inputRateHz = kRate, .outputRateHz = 51'200.0}, error);
    std::vector<float> out(16'384);
    for (auto _ : state) {
        for (std::span<const float> pending(audio); !pending.empty();) {
            const std::size_t n = std::min<std::size_t>(8'192, pending.size());
            const AudioResampler::Progress p = resampler->process(pending.first(n), out);
            pending = pending.subspan(p.consumed);
        }
        benchmark::DoNotOptimize(out.data());
    }
    const auto samples = state.iterations() * static_cast<std::int64_t>(audio.size());
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AudioResampler22050To51200)->Unit(benchmark::kMillisecond);
