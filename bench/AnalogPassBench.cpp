// The analog pass as the processing thread runs it, on 8,192-sample blocks of the simulated
// 92.1 MHz stereo station; real time at 2,048,000 samples/s.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "control/OffsetShift.h"
#include "control/SpectrumMath.h"
#include "device/RTLSDRDevice.h"
#include "dsp/ChannelFilter.h"
#include "dsp/DCBlockFilter.h"
#include "dsp/DeEmphasisFilter.h"
#include "dsp/Decimator.h"
#include "dsp/FFTAnalyzer.h"
#include "dsp/FMDemodulator.h"
#include "dsp/IQDCBlocker.h"
#include "dsp/MultiplexEqualizer.h"
#include "dsp/NoiseReduction.h"
#include "dsp/NotchFilter.h"
#include "dsp/StereoDecoder.h"
#include "sim/DemoScene.h"
#include "sim/VirtualRtlSdr.h"

namespace {

constexpr std::size_t kBlock = 8'192;

std::vector<IQSample> stationSamples(std::size_t count) {
    VirtualRtlSdr dongle(makeDemoScene(), {.speed = 0});
    RtlSdrApi::Handle handle = nullptr;
    dongle.open(&handle, 0);
    dongle.setSampleRate(handle, 2'048'000);
    dongle.setCenterFreq(handle, 92'140'000);
    std::vector<unsigned char> bytes(count * 2);
    dongle.renderBuffer(bytes);
    std::vector<IQSample> iq(count);
    convertRTLBytes(bytes, iq);
    return iq;
}

void reportRealtime(benchmark::State& state) {
    const auto samples = state.iterations() * static_cast<std::int64_t>(kBlock);
    state.SetItemsProcessed(samples);
    state.counters["realtime"] = benchmark::Counter(samples / 2'048'000.0, benchmark::Counter::kIsRate);
}

// DC block, offset shift and channel filter at 2,048,000 samples/s, then discriminator,
// equaliser, stereo decoder and audio decimators at 256,000 samples/s, and the audio tools at
// 51,200 samples/s.
void BM_AnalogPass(benchmark::State& state) {
    const bool stereo = state.range(0) != 0;
    const std::vector<IQSample> input = stationSamples(kBlock * 64);
    IQDCBlocker dcBlocker;
    ChannelFilter channel(ChannelFilterMode::wideFM, {.inputRateHz = 2'048'000.0, .decimation = 8});
    FMDemodulator fm(0.35f / 8.0f);
    MultiplexEqualizer equalizer;
    Decimator mono(5, 256'000.0), leftDec(5, 256'000.0), rightDec(5, 256'000.0);
    StereoDecoder decoder(256'000.0);
    const DeEmphasisFilter::Config de{.sampleRate = 51'200.0, .timeConstantMicroseconds = 50.0};
    DeEmphasisFilter leftDe(de), rightDe(de);
    DCBlockFilter leftDC, rightDC;
    NoiseReduction leftNR(0.5f), rightNR(0.5f);
    const NotchFilter::Config notchConfig{
        .sampleRate = 51'200.0, .frequencyHz = 1'000.0, .q = 10.0};
    NotchFilter leftNotch(notchConfig), rightNotch(notchConfig);
    std::vector<IQSample> shifted(kBlock), filtered(kBlock);
    std::vector<float> mpx(kBlock), l(kBlock), r(kBlock), left(kBlock), right(kBlock);
    double phase = 0.0;
    std::size_t pos = 0;
    for (auto _ : state) {
        const std::span<const IQSample> block(input.data() + pos, kBlock);
        pos = (pos + kBlock) % input.size();
        dcBlocker.process(block, shifted);
        phase = shiftBy40kHz(shifted, phase);
        const std::size_t m = channel.process(shifted, filtered);  // from here on: 256 kHz
        const std::span<float> multiplex(mpx.data(), m);
        fm.demodulate(std::span<const IQSample>(filtered.data(), m), multiplex);
        equalizer.process(multiplex, multiplex);
        if (stereo) {
            decoder.process(multiplex, l, r);
            // from here on: 51.2 kHz
            left.resize(leftDec.process(std::span<const float>(l.data(), m), std::span<float>(left.data(), kBlock)));
            right.resize(rightDec.process(std::span<const float>(r.data(), m), std::span<float>(right.data(), kBlock)));
            leftDe.process(left, left);
            rightDe.process(right, right);
            leftDC.process(left, left);
            rightDC.process(right, right);
            leftNR.process(left, left);
            rightNR.process(right, right);
            leftNotch.process(left, left);
            rightNotch.process(right, right);
        } else {
            left.resize(mono.process(multiplex, std::span<float>(left.data(), kBlock)));
            leftDe.process(left, left);
            leftDC.process(left, left);
            leftNR.process(left, left);
            leftNotch.process(left, left);
        }
        left.resize(kBlock);
        right.resize(kBlock);
        benchmark::DoNotOptimize(left.data());
    }
    reportRealtime(state);
}
BENCHMARK(BM_AnalogPass)->Arg(1)->ArgName("stereo");
BENCHMARK(BM_AnalogPass)->Arg(0)->ArgName("stereo");

// The display work posted every fourth block: the eight 1,024-point spectra of a block
// averaged, dBFS levels, 96 bins.
void BM_SpectrumWork(benchmark::State& state) {
    const std::vector<IQSample> input = stationSamples(kBlock);
    FFTAnalyzer analyzer(1'024);
    std::vector<float> smoothed;
    for (auto _ : state) {
        const auto power = analyzer.averagedSpectrum(input);
        const SpectrumLevels levels =
            spectrumLevels(*power, {.fullScaleBinPower = analyzer.fullScaleBinPower(),
                                    .averagedSegments = input.size() / analyzer.size(),
                                    .normRange = DBRange{}});
        const std::vector<float> row = downsample(levels.norm, 96);
        smoothTowards(smoothed, row, 0.08f);
        benchmark::DoNotOptimize(strongestInChannelDB(levels.dB, 125'000.0, 2'048'000.0));
    }
    // One spectrum covers four 8,192-sample blocks of signal.
    const auto samples = state.iterations() * static_cast<std::int64_t>(4 * kBlock);
    state.counters["realtime"] = benchmark::Counter(samples / 2'048'000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SpectrumWork);

}  // namespace
