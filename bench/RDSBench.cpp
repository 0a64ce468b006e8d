#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "rds/RDSDemodulator.h"
#include "rds/RDSGroupDecoder.h"
#include "sim/RDSEncoder.h"
#include "sim/SimRandom.h"

namespace {

// The receiver hands RDS the discriminator output at the channel rate.
constexpr double kSampleRateHz = 256'000.0;

// One second of discriminator output: pilot, a mono tone, RDS and noise, scaled as the
// receiver's discriminator scales a full-scale multiplex (0.35 x 2 pi x 75 kHz / fs).
std::vector<float> makeMultiplex(std::size_t count) {
    RDSEncoder encoder({.pi = 0x1234, .pty = 10, .ps = "BENCH", .radioText = "Benchmark text"});
    std::vector<float> mpx(count);
    const double pilotStep = 2.0 * std::numbers::pi * 19'000.0 / kSampleRateHz;
    SimRandom random(7);
    for (std::size_t n = 0; n < count; ++n) {
        mpx[n] = 0.09f * static_cast<float>(std::cos(pilotStep * static_cast<double>(n))) +
                 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 *
                                                    static_cast<double>(n) / kSampleRateHz)) +
                 0.05f * random.gaussian();
    }
    encoder.render(mpx, {.phaseRad = 0.0, .radPerSample = pilotStep});
    const float scale =
        static_cast<float>(0.35 * 2.0 * std::numbers::pi * 75'000.0 / kSampleRateHz);
    for (float& v : mpx) v *= scale;
    return mpx;
}

void BM_RDSDemodulator(benchmark::State& state) {
    constexpr std::size_t kBlock = 1024;  // one 8,192-sample IQ block after the channel filter
    const std::vector<float> mpx = makeMultiplex(256'000);
    RDSDemodulator demod(kSampleRateHz);
    std::int64_t bits = 0;
    demod.onDataBit = [&bits](int) { ++bits; };
    std::size_t offset = 0;
    for (auto _ : state) {
        demod.process(std::span<const float>(mpx).subspan(offset, kBlock));
        offset = (offset + kBlock) % (mpx.size() - kBlock);
        benchmark::DoNotOptimize(bits);
    }
    const auto samples = state.iterations() * static_cast<std::int64_t>(kBlock);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(samples) / kSampleRateHz,
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RDSDemodulator);

// The RDS thread's whole load: demodulator and group decoder as the controller wires them.
void BM_RDSReceiver(benchmark::State& state) {
    constexpr std::size_t kBlock = 1024;
    const std::vector<float> mpx = makeMultiplex(256'000);
    RDSDemodulator demod(kSampleRateHz);
    RDSGroupDecoder decoder;
    demod.onDataBit = [&decoder](int bit) { decoder.processBit(bit); };
    std::size_t offset = 0;
    for (auto _ : state) {
        demod.process(std::span<const float>(mpx).subspan(offset, kBlock));
        offset = (offset + kBlock) % (mpx.size() - kBlock);
    }
    benchmark::DoNotOptimize(decoder.groupCount());
    const auto samples = state.iterations() * static_cast<std::int64_t>(kBlock);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(samples) / kSampleRateHz,
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RDSReceiver);

void BM_RDSEncoder(benchmark::State& state) {
    constexpr std::size_t kBlock = 8192;
    RDSEncoder encoder({.pi = 0x1234, .ps = "BENCH", .radioText = "Benchmark text"});
    std::vector<float> mpx(kBlock);
    const double pilotStep = 2.0 * std::numbers::pi * 19'000.0 / kSampleRateHz;
    double phase = 0.0;
    for (auto _ : state) {
        encoder.render(mpx, {.phaseRad = phase, .radPerSample = pilotStep});
        phase = std::remainder(phase + kBlock * pilotStep, 2.0 * std::numbers::pi);
        benchmark::DoNotOptimize(mpx.data());
    }
    const auto samples = state.iterations() * static_cast<std::int64_t>(kBlock);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(samples) / kSampleRateHz,
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RDSEncoder);

}  // namespace
