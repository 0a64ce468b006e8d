#include "device/LibRtlSdrApi.h"

#include <rtl-sdr.h>

namespace {

rtlsdr_dev_t* dev(RtlSdrApi::Handle handle) { return static_cast<rtlsdr_dev_t*>(handle); }

}  // namespace

std::uint32_t LibRtlSdrApi::getDeviceCount() { return rtlsdr_get_device_count(); }

int LibRtlSdrApi::open(Handle* handle, std::uint32_t index) {
    rtlsdr_dev_t* opened = nullptr;
    // Resolved at every open: the serial's index changes as dongles are plugged in.
    const std::uint32_t device = index == 0 ? resolveDongleIndex(choice) : index;
    const int status = rtlsdr_open(&opened, device);
    *handle = opened;
    return status;
}

int LibRtlSdrApi::close(Handle handle) { return rtlsdr_close(dev(handle)); }

int LibRtlSdrApi::setSampleRate(Handle handle, std::uint32_t rateHz) {
    return rtlsdr_set_sample_rate(dev(handle), rateHz);
}

int LibRtlSdrApi::setCenterFreq(Handle handle, std::uint32_t frequencyHz) {
    return rtlsdr_set_center_freq(dev(handle), frequencyHz);
}

int LibRtlSdrApi::setTunerGainMode(Handle handle, int manual) {
    return rtlsdr_set_tuner_gain_mode(dev(handle), manual);
}

int LibRtlSdrApi::setTunerGain(Handle handle, int tenthsDB) {
    return rtlsdr_set_tuner_gain(dev(handle), tenthsDB);
}

int LibRtlSdrApi::setAgcMode(Handle handle, int on) { return rtlsdr_set_agc_mode(dev(handle), on); }

int LibRtlSdrApi::setFreqCorrection(Handle handle, int ppm) {
    return rtlsdr_set_freq_correction(dev(handle), ppm);
}

int LibRtlSdrApi::resetBuffer(Handle handle) { return rtlsdr_reset_buffer(dev(handle)); }

int LibRtlSdrApi::readAsync(Handle handle, ReadCallback callback, void* context,
                            std::uint32_t bufferCount, std::uint32_t bufferLength) {
    return rtlsdr_read_async(dev(handle), callback, context, bufferCount, bufferLength);
}

int LibRtlSdrApi::cancelAsync(Handle handle) { return rtlsdr_cancel_async(dev(handle)); }
