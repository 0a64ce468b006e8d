#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dab/DABAcquisition.h"
#include "dab/DABAudioChain.h"
#include "dab/DABFICDecoder.h"
#include "dab/DABSynchronizer.h"
#include "platform/SerialQueue.h"
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

namespace {

// One transmission frame of a locked DAB+ stream, as the stream thread and the audio queue do
// it: timing from the guard, FIC, the 72 MSC symbols, slicing, de-interleaving, depuncturing,
// then Viterbi, Reed-Solomon and AAC of the 96 kbit/s service. Real time: frames of 96 ms.
void BM_DABPlusChainFrame(benchmark::State& state) {
    const DemoDABEnsemble e = demoDABEnsembles()[1];
    DABEmitter emitter(demoDABEmitterConfig(e));
    constexpr int kFrames = 40;
    std::vector<IQSample> signal(static_cast<std::size_t>(kFrames + 2) * 196'608);
    emitter.render(signal, {.offsetHz = 0.0, .sampleIndex = 0, .clockErrorPPM = 0.0});
    DABSynchronizer sync;
    const auto lock = sync.findNull(std::span<const IQSample>(signal).first(400'000));
    if (!lock) {
        state.SkipWithError("no null");
        return;
    }
    const int first = lock->nullIndex + 2'656;
    SerialQueue queue("bench.msc", ThreadPriority::userInitiated);
    std::uint64_t pcmFrames = 0;
    DABAudioChain audio(queue, {.onPCM = [&](std::span<const float> l, std::span<const float>, double) { pcmFrames += l.size(); }});
    audio.selectSubchannel(DABSubchannel{.id = 1, .startCU = 0, .sizeCU = 72, .protection = 2});
    DABFICDecoder fic;
    std::vector<float> msc(static_cast<std::size_t>(DABFICDecoder::kMSCSoftValues));
    int frame = 0;
    for (auto _ : state) {
        const int expected = first + (frame % kFrames) * 196'608;
        const auto guard = sync.estimateFrequencyOffset(signal, expected, 32);
        const int start = guard ? guard->symbolStart : expected;
        benchmark::DoNotOptimize(fic.decode(signal, start, 0, 0.0));
        if (fic.extractMSCFrameBits(signal, start, 0, 0.0, 2'048'000.0, msc)) audio.pushFrame(msc, false);
        queue.drain();
        ++frame;
    }
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * 0.096,
                                                    benchmark::Counter::kIsRate);
    state.counters["audio"] = benchmark::Counter(static_cast<double>(pcmFrames) > 0 ? 1.0 : 0.0);
}
BENCHMARK(BM_DABPlusChainFrame)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace
