#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "../tests/dab/DABTestSignal.h"
#include "dab/DABFICDecoder.h"
#include "dab/DABViterbi.h"

namespace {

// One transmission frame lasts 96 ms; the counters say how many frames' worth of signal are
// processed per second of CPU time.
constexpr double kFrameSeconds = 0.096;

void reportFrames(benchmark::State& state) {
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kFrameSeconds, benchmark::Counter::kIsRate);
}

std::vector<int> encodedSoft(int bits, std::uint32_t seed) {
    std::mt19937 rng(seed);
    dabtest::Bits data(static_cast<std::size_t>(bits));
    for (auto& b : data) b = static_cast<std::uint8_t>(rng() & 1U);
    std::vector<int> soft;
    for (std::uint8_t c : dabtest::convolutionalEncode(data)) soft.push_back(c ? -255 : 255);
    return soft;
}

}  // namespace

// The whole FIC of one frame: four FFTs, DQPSK, four Viterbi blocks, CRC and FIG parsing.
static void BM_DABFICDecodeFrame(benchmark::State& state) {
    const dabtest::Frame frame =
        dabtest::buildFrame(dabtest::ficCodeBits(dabtest::exampleFIBs()), {.binShift = 3, .dfHz = 50.0});
    DABFICDecoder decoder;
    for (auto _ : state) {
        auto info = decoder.decode(frame.iq, frame.prsStart, 3, 50.0);
        benchmark::DoNotOptimize(info);
    }
    if (decoder.lastGoodFIBCount() != 12) state.SkipWithError("frame did not decode");
    reportFrames(state);
}
BENCHMARK(BM_DABFICDecodeFrame)->Unit(benchmark::kMicrosecond);

// The FIC's Viterbi load of one frame: four blocks of 768 bits.
static void BM_DABViterbiFIC(benchmark::State& state) {
    const DABViterbi viterbi;
    const std::vector<int> soft = encodedSoft(768, 1);
    std::vector<std::uint8_t> out(768);
    for (auto _ : state) {
        for (int cif = 0; cif < 4; ++cif) viterbi.deconvolve(soft, 768, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 4 * 768);
    reportFrames(state);
}
BENCHMARK(BM_DABViterbiFIC)->Unit(benchmark::kMicrosecond);

// One 384 kbit/s sub-channel's frame in the MSC: four CIFs of 9216 bits, float soft input.
static void BM_DABViterbiMSC384k(benchmark::State& state) {
    const DABViterbi viterbi;
    const std::vector<int> softInt = encodedSoft(9216, 2);
    const std::vector<float> soft(softInt.begin(), softInt.end());
    std::vector<std::uint8_t> out(9216);
    for (auto _ : state) {
        for (int cif = 0; cif < 4; ++cif) viterbi.deconvolve(soft, 9216, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 4 * 9216);
    reportFrames(state);
}
BENCHMARK(BM_DABViterbiMSC384k)->Unit(benchmark::kMicrosecond);

// The MSC of one frame: 73 FFTs and 72 × 1536 differential products.
static void BM_DABExtractMSCFrame(benchmark::State& state) {
    const dabtest::Frame frame = dabtest::buildFrame(dabtest::ficCodeBits(dabtest::exampleFIBs()),
                                                     {.binShift = 3, .dfHz = 50.0, .withMSC = true});
    DABFICDecoder decoder;
    std::vector<float> soft(DABFICDecoder::kMSCSoftValues);
    for (auto _ : state) {
        const bool ok = decoder.extractMSCFrameBits(frame.iq, frame.prsStart, 3, 50.0, 2'048'000.0, soft);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(soft.data());
    }
    reportFrames(state);
}
BENCHMARK(BM_DABExtractMSCFrame)->Unit(benchmark::kMicrosecond);
