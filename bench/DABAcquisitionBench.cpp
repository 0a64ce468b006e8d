#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dab/DABAcquisition.h"
#include "sim/DABEmitter.h"
#include "sim/DemoScene.h"

namespace {

// The probe's 900,000 samples of the 12C ensemble as a dongle delivers them: 3 kHz off, a
// +20 ppm clock, the echo and receiver noise.
const std::vector<IQSample>& probeSignal() {
    static const std::vector<IQSample> signal = [] {
        const DemoDABEnsemble e = demoDABEnsembles()[1];
        DABEmitter emitter(DABEmitterConfig{.carrierHz = e.frequencyHz, .amplitude = e.amplitude, .ensemble = e.ensemble});
        std::vector<IQSample> out(DABAcquirer::kProbeSamples);
        emitter.render(out, {.offsetHz = 3'000.0, .sampleIndex = 0, .clockErrorPPM = 20.0});
        std::mt19937 rng(1);
        std::normal_distribution<float> g(0.0f, 0.005f);
        for (IQSample& s : out) s = {s.i + g(rng), s.q + g(rng)};
        return out;
    }();
    return signal;
}

// Hands out one recorded block, then runs dry.
class RecordedFeed final : public DABSampleFeed {
public:
    explicit RecordedFeed(const std::vector<IQSample>& s) : samples(s) {}
    std::size_t pop(std::span<IQSample> out) override {
        const std::size_t n = std::min(out.size(), samples.size() - at);
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
        at += n;
        return n;
    }
    void waitForSamples() override {}
    bool stopRequested() const override { return at >= samples.size(); }
    void retune(double) override {}

private:
    const std::vector<IQSample>& samples;
    std::size_t at = 0;
};

// The quick probe: null search, offset, the PRS search over timings and ±24 carriers, and the
// FIC of every frame in the block. Real time: seconds of signal searched per second.
void BM_DABProbeAcquisition(benchmark::State& state) {
    const std::vector<IQSample>& signal = probeSignal();
    for (auto _ : state) {
        RecordedFeed feed(signal);
        DABAcquirer acquirer(feed);
        const DABAcquirer::Outcome outcome = acquirer.probe({.frequencyMHz = 227.360});
        if (!outcome.result) state.SkipWithError(outcome.status.c_str());
        benchmark::DoNotOptimize(outcome.result);
    }
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(signal.size()) / 2'048'000.0,
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DABProbeAcquisition)->Unit(benchmark::kMillisecond);

}  // namespace
