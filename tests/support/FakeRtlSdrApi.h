#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/RtlSdrApi.h"

// Scripted dongle for tests. Records every call in order as librtlsdr would be called, e.g.
// "get_device_count()", "open(0)", "set_sample_rate(2048000)", "read_async(0,131072)".
// Return codes are 0 unless scripted with setResult("set_sample_rate", -1). readAsync first
// delivers the queued buffers, then blocks until cancelAsync or close; a cancel that arrives
// before readAsync starts makes it return at once. Thread-safe.
class FakeRtlSdrApi final : public RtlSdrApi {
public:
    void setDeviceCount(std::uint32_t count);
    // Result for calls named as librtlsdr names them ("open", "set_center_freq", "read_async").
    void setResult(const std::string& call, int status);
    void setOpenHandle(Handle handle);
    void queueBuffer(std::vector<std::uint8_t> bytes);
    // A callback with a null byte pointer and the given length.
    void queueNullBuffer(std::uint32_t length);

    std::vector<std::string> calls() const;
    void clearCalls();
    // Blocks until readAsync has delivered every queued buffer and is waiting for cancel.
    void waitUntilDrained();

    std::uint32_t getDeviceCount() override;
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

private:
    int record(const std::string& name, const std::string& args);

    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> log;
    std::map<std::string, int> results;
    std::uint32_t deviceCount = 1;
    int dongle = 0;               // its address is the handle open() hands out
    Handle openHandle = &dongle;  // unless setOpenHandle(nullptr)
    std::deque<std::optional<std::vector<std::uint8_t>>> pending;  // nullopt: null pointer
    std::deque<std::uint32_t> nullLengths;
    bool cancelRequested = false;
    bool drained = false;
};
