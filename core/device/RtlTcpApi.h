#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "device/RtlSdrApi.h"
#include "feeds/FeedTCPServer.h"

// The rtl_tcp wire format, shared by the client and the server. After connecting, the server
// sends a 12-byte header: "RTL0", the tuner type and the tuner's gain count (both 32-bit big
// endian); then unsigned 8-bit interleaved I/Q until either side closes. The client sends
// 5-byte commands: one command byte and a 32-bit big-endian parameter.
namespace rtltcp {
inline constexpr std::size_t kHeaderBytes = 12;
inline constexpr std::size_t kCommandBytes = 5;
enum class Command : std::uint8_t {
    centerFrequency = 0x01,  // Hz
    sampleRate = 0x02,       // samples per second
    gainMode = 0x03,         // 0 automatic, 1 manual
    gain = 0x04,             // tenths of a dB
    frequencyCorrection = 0x05,  // ppm, two's complement
    agcMode = 0x08,          // RTL2832 digital AGC, 0 off, 1 on
};
struct Header {
    std::uint32_t tunerType = 0;  // librtlsdr's enum; 6 is the R828D
    std::uint32_t gainCount = 0;
    bool operator==(const Header&) const = default;
};

std::array<std::uint8_t, kHeaderBytes> encodeHeader(Header header);
// Empty when the bytes do not start with "RTL0".
std::optional<Header> decodeHeader(std::span<const std::uint8_t, kHeaderBytes> bytes);
std::array<std::uint8_t, kCommandBytes> encodeCommand(Command command, std::uint32_t parameter);
}  // namespace rtltcp

struct RtlTcpAddress {
    std::string host;
    std::uint16_t port = 0;
    bool operator==(const RtlTcpAddress&) const = default;
};

// "rtltcp://HOST:PORT" (or "HOST:PORT"; IPv6 hosts in brackets) to an address; empty, with
// `error` saying what is wrong, when the text is not one.
std::optional<RtlTcpAddress> parseRtlTcpAddress(std::string_view text, std::string& error);

struct RtlTcpApiConfig {
    RtlTcpAddress address;
    std::chrono::milliseconds connectTimeout{3'000};
    // After the link drops: first wait, doubled per failed attempt up to the longest.
    std::chrono::milliseconds firstRetryDelay{500};
    std::chrono::milliseconds longestRetryDelay{5'000};
    // A server that sends nothing for this long is taken as gone (a half-open link).
    std::chrono::milliseconds stallTimeout{10'000};
};

// A dongle on another machine, read through the rtl_tcp protocol (one device, index 0).
// open() connects and reads the header; readAsync delivers `bufferLength`-byte buffers of the
// server's I/Q until cancelAsync. When the link drops, readAsync reconnects with a growing
// wait, re-sends the frequency, rate, gain and correction last set, and carries on; the
// callback simply sees a gap. Setters are remembered and sent at once when connected.
//
// Failures are statuses: open returns a negative status and lastError() says why, e.g.
// "cannot connect to 192.168.1.5:1234: Connection refused". Thread-safe: setters and
// cancelAsync may come from any thread while readAsync runs on another; cancelAsync ends
// readAsync promptly, also while it waits to reconnect. close waits for readAsync to return.
class RtlTcpApi final : public RtlSdrApi {
public:
    static constexpr int kErrorBusy = -1;
    static constexpr int kErrorConnect = -2;
    static constexpr int kErrorNotOpen = -3;
    static constexpr int kErrorLinkDown = -4;
    static constexpr std::uint32_t kDefaultBufferBytes = 262'144;  // librtlsdr's for length 0

    explicit RtlTcpApi(RtlTcpApiConfig config);
    ~RtlTcpApi() override;
    RtlTcpApi(const RtlTcpApi&) = delete;
    RtlTcpApi& operator=(const RtlTcpApi&) = delete;

    std::string lastError() const override;
    // The header of the current or last connection.
    std::optional<rtltcp::Header> serverHeader() const;
    // Connections made after the first, for the status line.
    std::uint64_t reconnectCount() const;
    const RtlTcpAddress& address() const { return config.address; }

    // Always 1: whether the server answers is only known by connecting, which open does.
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

private:
    // What a reconnect re-sends, in this order: rate and frequency first, as rtl_tcp clients do.
    struct Settings {
        std::optional<std::uint32_t> sampleRateHz;
        std::optional<std::uint32_t> centerFrequencyHz;
        std::optional<int> manualGain;
        std::optional<int> gainTenthsDB;
        std::optional<int> correctionPPM;
        std::optional<int> agc;
    };

    bool isValid(Handle handle) const { return deviceOpen && handle == static_cast<const void*>(this); }
    // Connects and reads the header; empty socket with `why` set on failure. Waits at most the
    // connect timeout, less if `cancelled` turns true (checked on the wake event).
    UniqueFd connectAndHandshake(std::string& why, rtltcp::Header& header);
    // Sends under `lock`; a failed send is left to the reader, which sees the link drop.
    int sendLocked(rtltcp::Command command, std::uint32_t parameter);
    void resendSettingsLocked();
    // One attempt after waiting `retryDelay`, which it then doubles or resets; false when
    // cancelled. On success the remembered settings are sent again.
    bool reconnect(std::chrono::milliseconds& retryDelay, std::string& lastWhy);
    // Waits until `deadline` or a cancel; true when cancelled.
    bool waitCancelled(std::chrono::steady_clock::time_point deadline);
    std::string where() const;

    const RtlTcpApiConfig config;
    UniqueFd wakeEvent;  // eventfd: cancelAsync and close end the reader's poll

    mutable std::mutex lock;
    std::condition_variable wake;  // cancel, close and the end of readAsync
    std::string error;
    std::optional<rtltcp::Header> header;
    UniqueFd socket;  // the reader owns the connection; setters send on it under the lock
    Settings settings;
    bool deviceOpen = false;
    bool reading = false;
    bool cancelRequested = false;
    std::thread::id readerThread;
    std::uint64_t reconnects = 0;
};
