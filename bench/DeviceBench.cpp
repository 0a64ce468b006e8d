#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "device/IQBuffer.h"
#include "device/LibRtlSdrApi.h"
#include "device/RTLSDRDevice.h"

namespace {

constexpr double kDeviceRateHz = 2'048'000.0;

void setRealtime(benchmark::State& state, std::int64_t samplesPerIteration) {
    const auto samples = state.iterations() * samplesPerIteration;
    state.SetItemsProcessed(samples);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(samples) / kDeviceRateHz,
                           benchmark::Counter::kIsRate);
}

// One USB transfer: 131,072 bytes to 65,536 samples.
void BM_ConvertRTLBytes(benchmark::State& state) {
    std::vector<std::uint8_t> bytes(RTLSDRDevice::kReadBufferBytes);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1'664'525u + 1'013'904'223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    std::vector<IQSample> out(bytes.size() / 2);
    for (auto _ : state) {
        convertRTLBytes(bytes, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRealtime(state, static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_ConvertRTLBytes);

// The reader thread's write and the analog loop's reads of the same 65,536 samples.
void BM_IQBufferWriteRead(benchmark::State& state) {
    IQBuffer ring(262'144);
    const std::vector<IQSample> block(65'536, IQSample{0.25f, -0.25f});
    std::vector<IQSample> out(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ring.write(block);
        while (ring.read(out) > 0) benchmark::DoNotOptimize(out.data());
    }
    setRealtime(state, static_cast<std::int64_t>(block.size()));
}
BENCHMARK(BM_IQBufferWriteRead)->Arg(8'192)->Arg(65'536);

// The full USB handler: conversion, locked ring write, timing and counters.
void BM_HandleRawBuffer(benchmark::State& state) {
    auto ring = std::make_shared<IQBuffer>(262'144);
    RTLSDRDevice device(std::make_shared<LibRtlSdrApi>(), ring);  // the dongle is never called
    const std::vector<std::uint8_t> bytes(RTLSDRDevice::kReadBufferBytes, 200);
    std::vector<IQSample> drain(65'536);
    for (auto _ : state) {
        device.handleRawBuffer(bytes.data(), RTLSDRDevice::kReadBufferBytes);
        ring->read(drain);
    }
    setRealtime(state, 65'536);
}
BENCHMARK(BM_HandleRawBuffer);

}  // namespace
