#pragma once

#include <cstdint>
#include <string>

// The librtlsdr calls the receiver uses, behind one seam so that the real dongle, a recording,
// the simulated world and the scripted test fake are interchangeable. Return codes follow
// librtlsdr: 0 is success, negative values are errors. One object serves one dongle at a time.
class RtlSdrApi {
public:
    // Opaque device handle, as rtlsdr_dev_t* in librtlsdr.
    using Handle = void*;
    // librtlsdr's rtlsdr_read_async_cb_t: (bytes, length in bytes, context).
    using ReadCallback = void (*)(unsigned char* bytes, std::uint32_t length, void* context);

    virtual ~RtlSdrApi() = default;

    virtual std::uint32_t getDeviceCount() = 0;
    // On success returns 0 and stores the handle; may return 0 with a null handle.
    virtual int open(Handle* handle, std::uint32_t index) = 0;
    virtual int close(Handle handle) = 0;
    virtual int setSampleRate(Handle handle, std::uint32_t rateHz) = 0;
    virtual int setCenterFreq(Handle handle, std::uint32_t frequencyHz) = 0;
    virtual int setTunerGainMode(Handle handle, int manual) = 0;
    virtual int setTunerGain(Handle handle, int tenthsDB) = 0;
    virtual int setAgcMode(Handle handle, int on) = 0;
    virtual int setFreqCorrection(Handle handle, int ppm) = 0;
    virtual int resetBuffer(Handle handle) = 0;
    // Blocks, calling `callback` per buffer, until cancelAsync; returns 0 after cancellation.
    virtual int readAsync(Handle handle, ReadCallback callback, void* context,
                          std::uint32_t bufferCount, std::uint32_t bufferLength) = 0;
    virtual int cancelAsync(Handle handle) = 0;

    // True when the source loses nothing by waiting (a recording): the read callback may then
    // block until the receiver has room. A live dongle's samples come regardless, so it
    // returns false and the receiver drops what it cannot keep.
    virtual bool canWaitForReader() const { return false; }

    // Why the last call failed, when the source can say more than a status; empty otherwise.
    virtual std::string lastError() const { return {}; }
};
