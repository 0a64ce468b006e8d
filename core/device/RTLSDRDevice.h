#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "device/IQBuffer.h"
#include "device/IQSample.h"
#include "device/RtlSdrApi.h"

// Dongle bytes to samples: out[k] = ((bytes[2k] - 127.5) / 127.5, (bytes[2k+1] - 127.5) / 127.5)
// in float, so 0 -> -1.0, 255 -> +1.0 and no byte gives 0.0. out must hold bytes.size() / 2
// samples; an odd last byte is ignored.
void convertRTLBytes(std::span<const std::uint8_t> bytes, std::span<IQSample> out);

// Summary of the last 20 USB callbacks, formed on every 20th one.
struct USBCallbackStats {
    std::int64_t atCallback = 0;  // usbCallbackCount when it was formed
    double meanGapMs = 0.0;
    double maxGapMs = 0.0;
    double meanPairs = 0.0;
    bool operator==(const USBCallbackStats&) const = default;
};

// One RTL2832U dongle behind RtlSdrApi: open, program, and stream. startStreaming blocks the
// calling (reader) thread in the asynchronous read; each USB buffer of 131,072 bytes becomes
// 65,536 samples written into the IQBuffer (32 ms at 2,048,000 samples/s). What a full ring
// does is the ring's policy: a live dongle's ring overwrites its oldest samples, a
// recording's ring makes the write, and so the reader thread, wait for room.
//
// Must be owned by a std::shared_ptr: the reader callback locks it weakly for each call.
// Thread safety: the control operations (open, configure, setters, stopStreaming, close) may
// be called from any thread, also while streaming; they are serialised by one lock, since
// the tuner's register sequences must not interleave. The statistics belong to the reader
// thread; read them only while no stream runs.
class RTLSDRDevice : public std::enable_shared_from_this<RTLSDRDevice> {
public:
    static constexpr std::uint32_t kReadBufferBytes = 131'072;
    static constexpr std::size_t kScratchSamples = 65'536;
    static constexpr std::size_t kHistoryLength = 100;
    static constexpr std::int64_t kStatsWindowCallbacks = 20;
    static constexpr double kGapWarningMs = 70.0;        // a little over two buffer periods
    static constexpr double kProcessWarningMs = 15.0;
    // The configFailed payload when an operation needs an open dongle.
    static constexpr const char* kNotOpenText = "Uređaj nije otvoren";

    // Monotonic time in seconds; tests inject a fake.
    using SecondsClock = std::function<double()>;

    RTLSDRDevice(std::shared_ptr<RtlSdrApi> api, std::shared_ptr<IQBuffer> buffer,
                 SecondsClock clock = {});
    // Closes a dongle that is still open (for example after a failed configure), so that the
    // next open of the same dongle does not find it busy.
    ~RTLSDRDevice();
    RTLSDRDevice(const RTLSDRDevice&) = delete;
    RTLSDRDevice& operator=(const RTLSDRDevice&) = delete;

    // Throws RTLSDRError deviceNotFound (open is then not called) or openFailed(status). A
    // second open of an open device does nothing.
    void open(std::uint32_t index);
    // gainMode true = manual. Throws configFailed("set_sample_rate") / ("set_center_freq") /
    // (kNotOpenText); the results of gain mode, AGC and buffer reset are ignored.
    void configure(std::uint32_t centerFrequencyHz, std::uint32_t sampleRateHz, bool gainMode);
    // The setters do nothing without a dongle and ignore librtlsdr's result.
    void setCenterFrequency(std::uint32_t hz);
    void setGainMode(bool manual);
    void setManualGain(int tenthsDB);
    void setFrequencyCorrection(int ppm);
    // Blocks until stopStreaming. Throws configFailed(kNotOpenText) or streamStartFailed(status).
    void startStreaming();
    void stopStreaming();
    void close();
    bool isOpen() const;

    // One USB transfer: convert, write into the ring, measure, count. Runs on the reader thread.
    void handleRawBuffer(const unsigned char* bytes, std::uint32_t length);

    std::int64_t usbCallbackCount() const { return callbackCount; }
    // Up to the last kHistoryLength entries, oldest first.
    std::vector<double> usbGapHistory() const;
    std::vector<std::int64_t> usbPairsHistory() const;
    std::optional<USBCallbackStats> usbStatsWindow() const { return statsWindow; }

private:
    static void readCallback(unsigned char* bytes, std::uint32_t length, void* context);
    void recordCallback(double gapMs, std::int64_t pairs);

    const std::shared_ptr<RtlSdrApi> api;
    const std::shared_ptr<IQBuffer> buffer;
    const SecondsClock clock;

    mutable std::mutex controlLock;
    RtlSdrApi::Handle device = nullptr;  // absent before open and after close

    // Reader-thread state.
    std::optional<double> lastCallbackAt;  // seconds
    std::int64_t callbackCount = 0;        // callbacks that delivered at least one pair
    std::array<double, kHistoryLength> gapHistory{};          // ring, slot = count % length
    std::array<std::int64_t, kHistoryLength> pairsHistory{};
    std::optional<USBCallbackStats> statsWindow;
    std::vector<IQSample> scratch;  // kScratchSamples; longer transfers go in pieces
};
