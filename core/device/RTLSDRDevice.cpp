#include "device/RTLSDRDevice.h"

#include <algorithm>
#include <cassert>
#include <chrono>

#include "device/RTLSDRError.h"
#include "platform/DebugLog.h"

namespace {

constexpr std::array<float, 256> kByteToFloat = [] {
    std::array<float, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = (static_cast<float>(b) - 127.5f) / 127.5f;
    return table;
}();

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void convertRTLBytes(std::span<const std::uint8_t> bytes, std::span<IQSample> out) {
    const std::size_t pairs = bytes.size() / 2;
    assert(out.size() >= pairs);
    const std::uint8_t* in = bytes.data();
    IQSample* dst = out.data();
    for (std::size_t k = 0; k < pairs; ++k) {
        dst[k].i = kByteToFloat[in[2 * k]];
        dst[k].q = kByteToFloat[in[2 * k + 1]];
    }
}

RTLSDRDevice::RTLSDRDevice(std::shared_ptr<RtlSdrApi> api, std::shared_ptr<IQBuffer> buffer,
                           SecondsClock clock)
    : api(std::move(api)),
      buffer(std::move(buffer)),
      clock(clock ? std::move(clock) : SecondsClock(steadySeconds)),
      scratch(kScratchSamples) {
    assert(this->api && this->buffer);
}

RTLSDRDevice::~RTLSDRDevice() { close(); }

void RTLSDRDevice::open(std::uint32_t index) {
    std::lock_guard guard(controlLock);
    if (device != nullptr) return;
    if (api->getDeviceCount() == 0) throw RTLSDRError::deviceNotFound();
    RtlSdrApi::Handle handle = nullptr;
    const int status = api->open(&handle, index);
    if (status != 0) throw RTLSDRError::openFailed(status, api->lastError());
    if (handle == nullptr) throw RTLSDRError::openFailed(0);
    device = handle;
}

void RTLSDRDevice::configure(std::uint32_t centerFrequencyHz, std::uint32_t sampleRateHz,
                             bool gainMode) {
    std::lock_guard guard(controlLock);
    if (device == nullptr) throw RTLSDRError::configFailed(kNotOpenText);
    if (api->setSampleRate(device, sampleRateHz) != 0)
        throw RTLSDRError::configFailed("set_sample_rate");
    if (api->setCenterFreq(device, centerFrequencyHz) != 0)
        throw RTLSDRError::configFailed("set_center_freq");
    api->setTunerGainMode(device, gainMode ? 1 : 0);
    api->setAgcMode(device, 0);
    api->resetBuffer(device);
}

void RTLSDRDevice::setCenterFrequency(std::uint32_t hz) {
    std::lock_guard guard(controlLock);
    if (device != nullptr) api->setCenterFreq(device, hz);
}

void RTLSDRDevice::setGainMode(bool manual) {
    std::lock_guard guard(controlLock);
    if (device != nullptr) api->setTunerGainMode(device, manual ? 1 : 0);
}

void RTLSDRDevice::setManualGain(int tenthsDB) {
    std::lock_guard guard(controlLock);
    if (device != nullptr) api->setTunerGain(device, tenthsDB);
}

void RTLSDRDevice::setFrequencyCorrection(int ppm) {
    std::lock_guard guard(controlLock);
    if (device != nullptr) api->setFreqCorrection(device, ppm);
}

void RTLSDRDevice::startStreaming() {
    RtlSdrApi::Handle handle = nullptr;
    {
        std::lock_guard guard(controlLock);
        handle = device;
    }
    if (handle == nullptr) throw RTLSDRError::configFailed(kNotOpenText);
    // The context is this frame's weak reference: it outlives every callback, and the strong
    // reference beside it keeps the device alive for as long as the read runs.
    std::weak_ptr<RTLSDRDevice> self = weak_from_this();
    const std::shared_ptr<RTLSDRDevice> keepAlive = self.lock();
    assert(keepAlive && "RTLSDRDevice must be owned by a std::shared_ptr to stream");
    // Buffer count 0 lets librtlsdr choose its default number of transfers.
    const int status =
        api->readAsync(handle, &RTLSDRDevice::readCallback, &self, 0, kReadBufferBytes);
    if (status != 0) throw RTLSDRError::streamStartFailed(status);
}

void RTLSDRDevice::stopStreaming() {
    std::lock_guard guard(controlLock);
    if (device != nullptr) api->cancelAsync(device);
}

void RTLSDRDevice::close() {
    std::lock_guard guard(controlLock);
    if (device == nullptr) return;
    api->close(device);
    device = nullptr;
}

bool RTLSDRDevice::isOpen() const {
    std::lock_guard guard(controlLock);
    return device != nullptr;
}

void RTLSDRDevice::readCallback(unsigned char* bytes, std::uint32_t length, void* context) {
    if (bytes == nullptr || context == nullptr) return;
    const std::shared_ptr<RTLSDRDevice> self =
        static_cast<std::weak_ptr<RTLSDRDevice>*>(context)->lock();
    if (self) self->handleRawBuffer(bytes, length);
}

void RTLSDRDevice::handleRawBuffer(const unsigned char* bytes, std::uint32_t length) {
    const double arrival = clock();
    const double gapMs = lastCallbackAt ? (arrival - *lastCallbackAt) * 1000.0 : 0.0;
    lastCallbackAt = arrival;
    if (length < 2 || bytes == nullptr) return;

    const std::size_t pairs = length / 2;
    // Transfers longer than the scratch go in scratch-sized pieces; the ring ends up exactly as
    // after one write of the whole transfer.
    for (std::size_t done = 0; done < pairs;) {
        const std::size_t n = std::min(pairs - done, scratch.size());
        const std::span<IQSample> block(scratch.data(), n);
        convertRTLBytes(std::span<const std::uint8_t>(bytes + 2 * done, 2 * n), block);
        buffer->write(block);
        done += n;
    }
    const double processMs = (clock() - arrival) * 1000.0;

    if (gapMs > kGapWarningMs || processMs > kProcessWarningMs)
        DebugLog::writef("🎧 USB callback gap=%.1fms process=%.1fms pairs=%d", gapMs, processMs,
                         static_cast<int>(pairs));
    recordCallback(gapMs, static_cast<std::int64_t>(pairs));
}

void RTLSDRDevice::recordCallback(double gapMs, std::int64_t pairs) {
    const std::size_t slot = static_cast<std::size_t>(callbackCount) % kHistoryLength;
    gapHistory[slot] = gapMs;
    pairsHistory[slot] = pairs;
    ++callbackCount;
    if (callbackCount % kStatsWindowCallbacks != 0) return;

    USBCallbackStats stats{.atCallback = callbackCount};
    double gapSum = 0.0, pairSum = 0.0;
    for (std::int64_t k = 1; k <= kStatsWindowCallbacks; ++k) {
        const std::size_t s = static_cast<std::size_t>(callbackCount - k) % kHistoryLength;
        gapSum += gapHistory[s];
        pairSum += static_cast<double>(pairsHistory[s]);
        stats.maxGapMs = std::max(stats.maxGapMs, gapHistory[s]);
    }
    stats.meanGapMs = gapSum / kStatsWindowCallbacks;
    stats.meanPairs = pairSum / kStatsWindowCallbacks;
    statsWindow = stats;
}

std::vector<double> RTLSDRDevice::usbGapHistory() const {
    const auto kept = std::min<std::int64_t>(callbackCount, kHistoryLength);
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(kept));
    for (std::int64_t k = callbackCount - kept; k < callbackCount; ++k)
        out.push_back(gapHistory[static_cast<std::size_t>(k) % kHistoryLength]);
    return out;
}

std::vector<std::int64_t> RTLSDRDevice::usbPairsHistory() const {
    const auto kept = std::min<std::int64_t>(callbackCount, kHistoryLength);
    std::vector<std::int64_t> out;
    out.reserve(static_cast<std::size_t>(kept));
    for (std::int64_t k = callbackCount - kept; k < callbackCount; ++k)
        out.push_back(pairsHistory[static_cast<std::size_t>(k) % kHistoryLength]);
    return out;
}
