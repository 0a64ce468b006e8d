#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "device/IQSample.h"
#include "device/RtlSdrApi.h"
#include "sim/RFScene.h"
#include "sim/SimGaussianNoise.h"

struct VirtualRtlSdrConfig {
    // 1: real time (32 ms per 65,536-sample buffer); N: N times faster; <= 0: as fast as possible.
    double speed = 1.0;
    // The tuner's own noise, complex rms referred to the antenna at the reference gain
    // (full-scale units); it adds to the scene's band noise.
    double receiverNoiseRms = 0.004;
    // LO leakage: a constant added after the gain, full-scale units (0.004 ≈ half an LSB).
    IQSample dcOffset{0.004f, 0.003f};
    std::uint64_t noiseSeed = 1;
    // The gain at which emitter amplitudes are stated; 229 is the R828D step the receiver's
    // default 22.0 dB request lands on.
    int referenceGainTenthsDB = 229;
};

// A simulated RTL2832U + R828D dongle tuned into an RFScene. Each buffer is rendered from the
// scene at the tuned centre, receiver and band noise are added, the tuner gain (manual steps or
// a slow automatic gain) is applied with the DC offset, and the result is quantised to unsigned
// 8-bit I/Q as the chip does, clipping when overdriven. readAsync paces buffers in real time
// (scaled by the speed factor) until cancelAsync. Thread safety: tuning, gain, correction and
// speed may be changed from any thread while streaming; they apply at the next buffer. The
// dongle keeps its scene alive.
class VirtualRtlSdr final : public RtlSdrApi {
public:
    static constexpr std::uint32_t kMinFrequencyHz = 24'000'000;
    static constexpr std::uint32_t kMaxFrequencyHz = 1'766'000'000;
    static constexpr std::uint32_t kDefaultBufferBytes = 16 * 32 * 512;  // librtlsdr's default
    // R828D total gain steps in tenths of a dB, as librtlsdr lists them.
    static constexpr std::array<int, 29> kGainStepsTenthsDB{
        0,   9,   14,  27,  37,  77,  87,  125, 144, 157, 166, 197, 207, 229, 254,
        280, 297, 328, 338, 364, 372, 386, 402, 421, 434, 439, 445, 480, 496};

    explicit VirtualRtlSdr(std::shared_ptr<RFScene> scene, VirtualRtlSdrConfig config = {});
    VirtualRtlSdr(const VirtualRtlSdr&) = delete;
    VirtualRtlSdr& operator=(const VirtualRtlSdr&) = delete;
    ~VirtualRtlSdr() override;

    std::uint32_t getDeviceCount() override { return 1; }
    int open(Handle* handle, std::uint32_t index) override;
    int close(Handle handle) override;
    int setSampleRate(Handle handle, std::uint32_t rateHz) override;
    int setCenterFreq(Handle handle, std::uint32_t frequencyHz) override;
    int setTunerGainMode(Handle handle, int manual) override;
    int setTunerGain(Handle handle, int tenthsDB) override;
    int setAgcMode(Handle handle, int on) override;
    int setFreqCorrection(Handle handle, int ppm) override;
    int resetBuffer(Handle handle) override;
    int readAsync(Handle handle, ReadCallback callback, void* context, std::uint32_t bufferCount,
                  std::uint32_t bufferLength) override;
    int cancelAsync(Handle handle) override;

    // Renders the next buffer exactly as readAsync would deliver it, advancing the sample clock
    // and the automatic gain. For benchmarks and single-threaded tests; not during readAsync.
    void renderBuffer(std::span<unsigned char> bytes);

    // Observers, safe from any thread.
    std::uint64_t deliveredBufferCount() const { return delivered.load(); }
    std::uint64_t sampleIndex() const { return sampleClock.load(); }
    std::uint32_t centerFrequencyHz() const { return centerHz.load(); }
    std::uint32_t sampleRateHz() const { return rateHz.load(); }
    // The gain in force: the manual step, or the automatic gain's current choice.
    int tunerGainTenthsDB() const { return effectiveGainTenths.load(); }
    bool isManualGainMode() const { return manualGain.load(); }
    int frequencyCorrectionPPM() const { return correctionPPM.load(); }
    bool isOpen() const { return openFlag.load(); }
    double speed() const { return speedFactor.load(); }
    void setSpeed(double factor) { speedFactor.store(factor); }

    // The nearest R828D step; ties go to the lower step, values outside 0..49.6 dB clamp.
    static int snapGainTenthsDB(int tenthsDB);

private:
    bool isValid(Handle handle) const { return handle == this && openFlag.load(); }
    void updateAutomaticGain(float peak);
    void stopStreamingAndWait();

    const std::shared_ptr<RFScene> scene;
    const VirtualRtlSdrConfig config;

    std::atomic<bool> openFlag{false};
    std::atomic<std::uint32_t> rateHz{2'048'000};
    std::atomic<std::uint32_t> centerHz{0};
    std::atomic<bool> manualGain{false};
    std::atomic<int> manualGainTenths;
    std::atomic<int> effectiveGainTenths;
    std::atomic<bool> rtlAgc{false};  // stored only: the RTL2832's digital AGC is not modelled
    std::atomic<int> correctionPPM{0};
    std::atomic<double> speedFactor;
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<std::uint64_t> sampleClock{0};

    // Touched only by the rendering thread.
    SimGaussianNoise noise;
    double automaticGainDB;
    std::vector<IQSample> scratch;
    std::vector<float> noiseBlock;  // 2 values per sample

    std::mutex streamMutex;  // guards the three flags below and the wait
    std::condition_variable streamWake;
    bool streaming = false;
    bool cancelRequested = false;
    bool cancelPending = false;  // cancel before readAsync started: the next read returns at once
    std::thread::id streamingThread;
};
