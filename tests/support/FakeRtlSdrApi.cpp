#include "support/FakeRtlSdrApi.h"

#include <utility>

void FakeRtlSdrApi::setDeviceCount(std::uint32_t count) {
    std::lock_guard guard(lock);
    deviceCount = count;
}

void FakeRtlSdrApi::setResult(const std::string& call, int status) {
    std::lock_guard guard(lock);
    results[call] = status;
}

void FakeRtlSdrApi::setOpenHandle(Handle handle) {
    std::lock_guard guard(lock);
    openHandle = handle;
}

void FakeRtlSdrApi::queueBuffer(std::vector<std::uint8_t> bytes) {
    std::lock_guard guard(lock);
    pending.emplace_back(std::move(bytes));
}

void FakeRtlSdrApi::queueNullBuffer(std::uint32_t length) {
    std::lock_guard guard(lock);
    pending.emplace_back(std::nullopt);
    nullLengths.push_back(length);
}

std::vector<std::string> FakeRtlSdrApi::calls() const {
    std::lock_guard guard(lock);
    return log;
}

void FakeRtlSdrApi::clearCalls() {
    std::lock_guard guard(lock);
    log.clear();
}

void FakeRtlSdrApi::waitUntilDrained() {
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return drained; });
}

int FakeRtlSdrApi::record(const std::string& name, const std::string& args) {
    log.push_back(name + "(" + args + ")");
    const auto it = results.find(name);
    return it == results.end() ? 0 : it->second;
}

std::uint32_t FakeRtlSdrApi::getDeviceCount() {
    std::lock_guard guard(lock);
    record("get_device_count", "");
    return deviceCount;
}

int FakeRtlSdrApi::open(Handle* handle, std::uint32_t index) {
    std::lock_guard guard(lock);
    const int status = record("open", std::to_string(index));
    cancelRequested = false;  // a new session: a cancel of the previous one does not carry over
    *handle = status == 0 ? openHandle : nullptr;
    return status;
}

int FakeRtlSdrApi::close(Handle) {
    std::lock_guard guard(lock);
    cancelRequested = true;
    changed.notify_all();
    return record("close", "");
}

int FakeRtlSdrApi::setSampleRate(Handle, std::uint32_t rateHz) {
    std::lock_guard guard(lock);
    return record("set_sample_rate", std::to_string(rateHz));
}

int FakeRtlSdrApi::setCenterFreq(Handle, std::uint32_t frequencyHz) {
    std::lock_guard guard(lock);
    return record("set_center_freq", std::to_string(frequencyHz));
}

int FakeRtlSdrApi::setTunerGainMode(Handle, int manual) {
    std::lock_guard guard(lock);
    return record("set_tuner_gain_mode", std::to_string(manual));
}

int FakeRtlSdrApi::setTunerGain(Handle, int tenthsDB) {
    std::lock_guard guard(lock);
    return record("set_tuner_gain", std::to_string(tenthsDB));
}

int FakeRtlSdrApi::setAgcMode(Handle, int on) {
    std::lock_guard guard(lock);
    return record("set_agc_mode", std::to_string(on));
}

int FakeRtlSdrApi::setFreqCorrection(Handle, int ppm) {
    std::lock_guard guard(lock);
    return record("set_freq_correction", std::to_string(ppm));
}

int FakeRtlSdrApi::resetBuffer(Handle) {
    std::lock_guard guard(lock);
    return record("reset_buffer", "");
}

int FakeRtlSdrApi::readAsync(Handle, ReadCallback callback, void* context,
                             std::uint32_t bufferCount, std::uint32_t bufferLength) {
    std::unique_lock guard(lock);
    const int status =
        record("read_async", std::to_string(bufferCount) + "," + std::to_string(bufferLength));
    if (status != 0) return status;
    while (!pending.empty() && !cancelRequested) {
        std::optional<std::vector<std::uint8_t>> next = std::move(pending.front());
        pending.pop_front();
        std::uint32_t length = 0;
        if (!next) {
            length = nullLengths.front();
            nullLengths.pop_front();
        }
        guard.unlock();  // callbacks run without the fake's lock, as in librtlsdr
        if (next)
            callback(next->data(), static_cast<std::uint32_t>(next->size()), context);
        else
            callback(nullptr, length, context);
        guard.lock();
    }
    drained = true;
    changed.notify_all();
    changed.wait(guard, [this] { return cancelRequested; });
    cancelRequested = false;
    drained = false;
    return 0;
}

int FakeRtlSdrApi::cancelAsync(Handle) {
    std::lock_guard guard(lock);
    cancelRequested = true;
    changed.notify_all();
    return record("cancel_async", "");
}
