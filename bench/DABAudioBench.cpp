#include <benchmark/benchmark.h>

#include <vector>

#include "../tests/dab/DABMSCTestEncoder.h"
#include "dab/DABDepuncture.h"
#include "dab/DABReedSolomonFrame.h"
#include "dab/DABSuperframeDecoder.h"
#include "dab/DABViterbiPack.h"

namespace {

// One transmission frame (four CIFs) lasts 96 ms; "realtime" is frames' worth of signal per
// second of CPU time.
constexpr double kFrameSeconds = 0.096;

void reportFrames(benchmark::State& state) {
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kFrameSeconds, benchmark::Counter::kIsRate);
}

// 96 kbit/s at 3-A: 72 CU, 288 bytes per CIF, superframes of 12 codewords.
const DABSubchannel k96k{.startCU = 0, .sizeCU = 72, .protection = 2};
const dabtest::TestProfile k96kProfile{.L1 = 69, .L2 = 3, .PI1 = 8, .PI2 = 7};

std::vector<std::vector<float>> noisyCIFs(const std::vector<std::uint8_t>& sent) {
    std::vector<std::vector<float>> cifs;
    for (std::size_t n = 0; n < 4; ++n) {
        const std::span<const std::uint8_t> bytes(sent.data() + 288 * n, 288);
        cifs.push_back(dabtest::toSoftValues(dabtest::encodeCIF(dabtest::toBits(bytes), k96kProfile), 0.4f,
                                             static_cast<std::uint32_t>(n)));
    }
    return cifs;
}

}  // namespace

// The MSC queue's load of one 96 kbit/s frame: four CIFs depunctured and Viterbi-decoded, and
// the four fifths of a superframe they make Reed-Solomon-corrected.
static void BM_DABAudio96kFrame(benchmark::State& state) {
    const auto sent = dabtest::rsEncodeSuperframe(dabtest::randomBytes(1320, 1));
    const auto cifs = noisyCIFs(sent);
    const auto profile = DABDepuncture::eepProfile(k96k);
    std::vector<float> mother(DABDepuncture::depuncturedLength(*profile));
    std::vector<std::uint8_t> bytes(288), data(1320);
    DABViterbiPack packer;
    int good = 0;
    for (auto _ : state) {
        for (const auto& cif : cifs) {
            DABDepuncture::expand(cif, *profile, mother);
            packer.pack(mother, 2304, bytes);
        }
        good = DABReedSolomonFrame::decode(sent, data);
        benchmark::DoNotOptimize(data.data());
    }
    if (good != 12) state.SkipWithError("superframe did not decode");
    reportFrames(state);
}
BENCHMARK(BM_DABAudio96kFrame)->Unit(benchmark::kMicrosecond);

// Worst case of the superframe hunt: 16 windows of noise, every one refused.
static void BM_DABSuperframeHuntMiss(benchmark::State& state) {
    DABSuperframeDecoder decoder(96);
    std::vector<std::vector<std::uint8_t>> noise;
    for (std::uint32_t n = 0; n < 25; ++n) noise.push_back(dabtest::randomBytes(288, n));
    std::int64_t cifIndex = 0;
    for (; cifIndex < 20; ++cifIndex) decoder.consumePackedCIF(noise[static_cast<std::size_t>(cifIndex)], cifIndex, false);
    for (auto _ : state) {
        // Five CIFs, one hunt: one superframe period (120 ms).
        for (int n = 0; n < 5; ++n, ++cifIndex) {
            decoder.consumePackedCIF(noise[static_cast<std::size_t>(cifIndex % 25)], cifIndex, false);
        }
    }
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * 0.120,
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DABSuperframeHuntMiss)->Unit(benchmark::kMicrosecond);
