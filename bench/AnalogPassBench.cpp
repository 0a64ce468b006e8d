// The analog pass at 2,048,000 samples/s as the processing thread runs it, on 8,192-sample
// blocks of the simulated 92.1 MHz stereo station.
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
#include "dsp/FIRTaps.h"
#include "dsp/FMDemodulator.h"
#include "dsp/IQDCBlocker.h"
#include "dsp/NoiseReduction.h"
#include "dsp/NotchFilter.h"
#include "dsp/StereoDecoder.h"
#include "dsp/StreamingFIRDecimator.h"
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

void BM_AnalogPass(benchmark::State& state) {
    const bool stereo = state.range(0) != 0;
    const std::vector<IQSample> input = stationSamples(kBlock * 64);
    IQDCBlocker dcBlocker;
    ChannelFilter channel(ChannelFilterMode::wideFM);
    FMDemodulator fm(0.35f);
    Decimator mono(40);
    StreamingFIRDecimator pre(FIRTaps::lowpass({.sampleRate = 2'048'000.0, .cutoffHz = 100'000.0, .numTaps = 129}), 8);
    StereoDecoder decoder(256'000.0);
    const FIRTaps::LowpassDesign audio{.sampleRate = 256'000.0, .cutoffHz = 15'000.0, .numTaps = 129};
    StreamingFIRDecimator leftDec(FIRTaps::lowpass(audio), 5), rightDec(FIRTaps::lowpass(audio), 5);
    const DeEmphasisFilter::Config de{.sampleRate = 51'200.0, .timeConstantMicroseconds = 50.0};
    DeEmphasisFilter leftDe(de), rightDe(de);
    DCBlockFilter leftDC, rightDC;
    NoiseReduction nr(0.5f);
    NotchFilter notch({.sampleRate = 51'200.0, .frequencyHz = 1'000.0, .q = 10.0});
    std::vector<IQSample> shifted(kBlock), filtered(kBlock);
    std::vector<float> mpx(kBlock), mid(kBlock), l(kBlock), r(kBlock), left(kBlock), right(kBlock);
    double phase = 0.0;
    std::size_t pos = 0;
    for (auto _ : state) {
        const std::span<const IQSample> block(input.data() + pos, kBlock);
        pos = (pos + kBlock) % input.size();
        dcBlocker.process(block, shifted);
        phase = shiftBy40kHz(shifted, phase);
        channel.process(shifted, filtered);
        fm.demodulate(filtered, mpx);
        if (stereo) {
            const std::size_t m = pre.process(mpx, mid);
            decoder.process(std::span<const float>(mid.data(), m), std::span<float>(l.data(), m),
                            std::span<float>(r.data(), m));
            left.resize(leftDec.process(std::span<const float>(l.data(), m), std::span<float>(left.data(), kBlock)));
            right.resize(rightDec.process(std::span<const float>(r.data(), m), std::span<float>(right.data(), kBlock)));
            leftDe.process(left, left);
            rightDe.process(right, right);
            leftDC.process(left, left);
            rightDC.process(right, right);
            nr.process(left, left);
            nr.process(right, right);
            notch.process(left, left);
            notch.process(right, right);
        } else {
            left.resize(mono.process(mpx, std::span<float>(left.data(), kBlock)));
            leftDe.process(left, left);
            leftDC.process(left, left);
            nr.process(left, left);
            notch.process(left, left);
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
