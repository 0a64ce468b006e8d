#include "sim/VirtualRtlSdr.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "sim/SimQuantise.h"
#include "sim/SimUnits.h"

namespace {
// The automatic gain keeps the quantised peak in this window, in dBFS of the 8-bit range.
constexpr double kAgcHighDBFS = -6.0;
constexpr double kAgcLowDBFS = -10.0;
constexpr double kAgcTargetDBFS = -8.0;
// Per-buffer limits: fast enough to settle within a second or two, slow enough not to pump.
constexpr double kAgcMaxStepDownDB = 3.0;
constexpr double kAgcMaxStepUpDB = 1.0;
constexpr double kMaxGainDB = 49.6;
constexpr int kLibusbErrorBusy = -6;  // what rtlsdr_open reports for a claimed device
}  // namespace

VirtualRtlSdr::VirtualRtlSdr(std::shared_ptr<RFScene> s, VirtualRtlSdrConfig c)
    : scene(std::move(s)),
      config(c),
      manualGainTenths(c.referenceGainTenthsDB),
      effectiveGainTenths(c.referenceGainTenthsDB),
      speedFactor(c.speed),
      noise(c.noiseSeed),
      automaticGainDB(c.referenceGainTenthsDB / 10.0) {}

VirtualRtlSdr::~VirtualRtlSdr() { stopStreamingAndWait(); }

int VirtualRtlSdr::snapGainTenthsDB(int tenthsDB) {
    int best = kGainStepsTenthsDB.front();
    for (int step : kGainStepsTenthsDB)
        if (std::abs(step - tenthsDB) < std::abs(best - tenthsDB)) best = step;
    return best;
}

int VirtualRtlSdr::open(Handle* handle, std::uint32_t index) {
    if (!handle || index != 0) return -1;
    if (openFlag.exchange(true)) return kLibusbErrorBusy;
    // A fresh open starts from the chip's reset state, as librtlsdr does.
    centerHz = 0;
    correctionPPM = 0;
    manualGain = false;
    rtlAgc = false;
    {
        std::lock_guard lock(streamMutex);
        cancelPending = false;
    }
    *handle = this;
    return 0;
}

int VirtualRtlSdr::close(Handle handle) {
    if (!isValid(handle)) return -1;
    stopStreamingAndWait();
    openFlag = false;
    return 0;
}

void VirtualRtlSdr::stopStreamingAndWait() {
    std::unique_lock lock(streamMutex);
    if (!streaming) return;
    cancelRequested = true;
    streamWake.notify_all();
    // From inside the callback the read loop ends once the callback returns.
    if (streamingThread == std::this_thread::get_id()) return;
    streamWake.wait(lock, [this] { return !streaming; });
}

int VirtualRtlSdr::setSampleRate(Handle handle, std::uint32_t rate) {
    if (!isValid(handle)) return -1;
    // librtlsdr's accepted ranges: 225,001..300,000 and 900,001..3,200,000 samples/s.
    if (rate <= 225'000 || rate > 3'200'000 || (rate > 300'000 && rate <= 900'000)) return -EINVAL;
    rateHz = rate;
    return 0;
}

int VirtualRtlSdr::setCenterFreq(Handle handle, std::uint32_t frequencyHz) {
    if (!isValid(handle)) return -1;
    if (frequencyHz < kMinFrequencyHz || frequencyHz > kMaxFrequencyHz) return -1;
    centerHz = frequencyHz;
    return 0;
}

int VirtualRtlSdr::setTunerGainMode(Handle handle, int manual) {
    if (!isValid(handle)) return -1;
    manualGain = manual != 0;
    if (manualGain) effectiveGainTenths = manualGainTenths.load();
    return 0;
}

int VirtualRtlSdr::setTunerGain(Handle handle, int tenthsDB) {
    if (!isValid(handle)) return -1;
    manualGainTenths = snapGainTenthsDB(tenthsDB);
    if (manualGain) effectiveGainTenths = manualGainTenths.load();
    return 0;
}

int VirtualRtlSdr::setAgcMode(Handle handle, int on) {
    if (!isValid(handle)) return -1;
    rtlAgc = on != 0;
    return 0;
}

int VirtualRtlSdr::setFreqCorrection(Handle handle, int ppm) {
    if (!isValid(handle)) return -1;
    // librtlsdr answers -2 when the correction is already in force.
    if (correctionPPM.exchange(ppm) == ppm) return -2;
    return 0;
}

int VirtualRtlSdr::resetBuffer(Handle handle) { return isValid(handle) ? 0 : -1; }

void VirtualRtlSdr::renderBuffer(std::span<unsigned char> bytes) {
    const std::size_t count = bytes.size() / 2;
    scratch.resize(count);
    noiseBlock.resize(2 * count);
    const double rate = rateHz.load();
    const std::uint64_t index = sampleClock.load();
    scene->render(scratch, centerHz.load(), correctionPPM.load(), index, rate);

    const bool manual = manualGain.load();
    const double gainDB = manual ? manualGainTenths.load() / 10.0 : automaticGainDB;
    const auto gain = static_cast<float>(dbfsToAmplitude(gainDB - config.referenceGainTenthsDB / 10.0));
    const double floorRms = scene->noiseFloorRms();
    // Band and receiver noise are independent and both referred to the antenna: one draw serves
    // both. Complex rms r puts r/√2 on each of I and Q.
    const auto sigma = static_cast<float>(
        std::sqrt((floorRms * floorRms + config.receiverNoiseRms * config.receiverNoiseRms) / 2.0) *
        gain);
    noise.fill(noiseBlock, sigma);
    float peak = 0.0f;
    for (std::size_t k = 0; k < count; ++k) {
        const float i = gain * scratch[k].i + noiseBlock[2 * k] + config.dcOffset.i;
        const float q = gain * scratch[k].q + noiseBlock[2 * k + 1] + config.dcOffset.q;
        peak = std::max(peak, std::max(std::abs(i), std::abs(q)));
        bytes[2 * k] = quantiseToByte(i);
        bytes[2 * k + 1] = quantiseToByte(q);
    }
    sampleClock = index + count;
    if (!manual) updateAutomaticGain(peak);
}

void VirtualRtlSdr::updateAutomaticGain(float peak) {
    const double peakDBFS = amplitudeToDBFS(std::max(peak, 1e-6f));
    if (peakDBFS > kAgcHighDBFS || peakDBFS < kAgcLowDBFS) {
        const double step =
            std::clamp(kAgcTargetDBFS - peakDBFS, -kAgcMaxStepDownDB, kAgcMaxStepUpDB);
        automaticGainDB = std::clamp(automaticGainDB + step, 0.0, kMaxGainDB);
    }
    if (!manualGain.load()) effectiveGainTenths = static_cast<int>(std::lround(automaticGainDB * 10.0));
}

int VirtualRtlSdr::readAsync(Handle handle, ReadCallback callback, void* context,
                             std::uint32_t /*bufferCount*/, std::uint32_t bufferLength) {
    if (!isValid(handle) || !callback) return -1;
    {
        std::lock_guard lock(streamMutex);
        if (streaming) return -1;
        if (cancelPending) {
            cancelPending = false;
            return 0;
        }
        streaming = true;
        cancelRequested = false;
        streamingThread = std::this_thread::get_id();
    }
    const std::uint32_t length = std::max<std::uint32_t>(
        2, (bufferLength == 0 ? kDefaultBufferBytes : bufferLength) & ~1u);
    std::vector<unsigned char> bytes(length);
    auto deadline = std::chrono::steady_clock::now();
    while (true) {
        {
            std::unique_lock lock(streamMutex);
            const double factor = speedFactor.load();
            if (factor > 0.0) {
                // A buffer is delivered once its samples would have been taken.
                const std::chrono::duration<double> span(length / 2.0 / rateHz.load() / factor);
                deadline += std::chrono::duration_cast<std::chrono::steady_clock::duration>(span);
                // After a stall (debugger, overloaded machine) resume pacing from now.
                const auto now = std::chrono::steady_clock::now();
                if (deadline < now - std::chrono::seconds(1)) deadline = now;
                streamWake.wait_until(lock, deadline, [this] { return cancelRequested; });
            }
            if (cancelRequested) break;
        }
        renderBuffer(bytes);
        callback(bytes.data(), length, context);
        ++delivered;
    }
    std::lock_guard lock(streamMutex);
    streaming = false;
    cancelRequested = false;
    streamingThread = {};
    streamWake.notify_all();
    return 0;
}

int VirtualRtlSdr::cancelAsync(Handle handle) {
    if (!isValid(handle)) return -1;
    std::lock_guard lock(streamMutex);
    if (streaming)
        cancelRequested = true;
    else
        cancelPending = true;
    streamWake.notify_all();
    return 0;
}
