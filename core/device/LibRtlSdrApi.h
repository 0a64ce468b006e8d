#pragma once

#include "device/RTLSDRDeviceList.h"
#include "device/RtlSdrApi.h"

// RtlSdrApi over librtlsdr: each call forwards unchanged, the handle is an rtlsdr_dev_t*.
// Thread safety is librtlsdr's (RTLSDRDevice serialises the control calls).
class LibRtlSdrApi final : public RtlSdrApi {
public:
    // The receiver opens "the" dongle as index 0; `choice` names which attached dongle that is.
    explicit LibRtlSdrApi(DongleChoice choice = {}) : choice(std::move(choice)) {}
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
    DongleChoice choice;
};
