#include "device/RtlTcpApi.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/DebugLog.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a command may wait for room in the socket before the link is taken as broken.
constexpr auto kSendTimeout = std::chrono::seconds(1);

struct AddrInfoFree {
    void operator()(addrinfo* info) const noexcept { freeaddrinfo(info); }
};

void putBigEndian(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v >> 24);
    out[1] = static_cast<std::uint8_t>(v >> 16);
    out[2] = static_cast<std::uint8_t>(v >> 8);
    out[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t getBigEndian(const std::uint8_t* in) {
    return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
           (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count() + 1, 0, 60'000));
}

std::string systemMessage(int errorNumber) { return std::strerror(errorNumber); }

}  // namespace

namespace rtltcp {

std::array<std::uint8_t, kHeaderBytes> encodeHeader(Header header) {
    std::array<std::uint8_t, kHeaderBytes> out{'R', 'T', 'L', '0'};
    putBigEndian(out.data() + 4, header.tunerType);
    putBigEndian(out.data() + 8, header.gainCount);
    return out;
}

std::optional<Header> decodeHeader(std::span<const std::uint8_t, kHeaderBytes> bytes) {
    if (std::memcmp(bytes.data(), "RTL0", 4) != 0) return std::nullopt;
    return Header{.tunerType = getBigEndian(bytes.data() + 4),
                  .gainCount = getBigEndian(bytes.data() + 8)};
}

std::array<std::uint8_t, kCommandBytes> encodeCommand(Command command, std::uint32_t parameter) {
    std::array<std::uint8_t, kCommandBytes> out{static_cast<std::uint8_t>(command)};
    putBigEndian(out.data() + 1, parameter);
    return out;
}

}  // namespace rtltcp

std::optional<RtlTcpAddress> parseRtlTcpAddress(std::string_view text, std::string& error) {
    constexpr std::string_view kScheme = "rtltcp://";
    std::string_view rest = text;
    if (rest.starts_with(kScheme)) rest.remove_prefix(kScheme.size());
    const std::string quoted = "'" + std::string(text) + "'";
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon + 1 == rest.size()) {
        error = "rtl_tcp address " + quoted + " needs a port: rtltcp://HOST:PORT";
        return std::nullopt;
    }
    std::string_view host = rest.substr(0, colon);
    const std::string_view portText = rest.substr(colon + 1);
    if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string_view::npos) {
        error = "rtl_tcp address " + quoted + ": write an IPv6 host in brackets, [::1]:1234";
        return std::nullopt;
    }
    if (host.empty() || host.find_first_of(" /?#@") != std::string_view::npos) {
        error = "rtl_tcp address " + quoted + " has no usable host: rtltcp://HOST:PORT";
        return std::nullopt;
    }
    unsigned port = 0;
    const auto parsed = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (parsed.ec != std::errc() || parsed.ptr != portText.data() + portText.size() || port == 0 ||
        port > 65'535) {
        error = "rtl_tcp address " + quoted + ": the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    return RtlTcpAddress{.host = std::string(host), .port = static_cast<std::uint16_t>(port)};
}

RtlTcpApi::RtlTcpApi(RtlTcpApiConfig configuration)
    : config(std::move(configuration)), wakeEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

RtlTcpApi::~RtlTcpApi() {
    std::unique_lock guard(lock);
    if (deviceOpen) {
        deviceOpen = false;
        cancelRequested = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeEvent.get(), &one, sizeof one);
        wake.wait(guard, [this] { return !reading; });
    }
}

std::string RtlTcpApi::where() const {
    const RtlTcpAddress& a = config.address;
    const bool v6 = a.host.find(':') != std::string::npos;
    return (v6 ? "[" + a.host + "]" : a.host) + ":" + std::to_string(a.port);
}

std::string RtlTcpApi::lastError() const {
    std::lock_guard guard(lock);
    return error;
}

std::optional<rtltcp::Header> RtlTcpApi::serverHeader() const {
    std::lock_guard guard(lock);
    return header;
}

std::uint64_t RtlTcpApi::reconnectCount() const {
    std::lock_guard guard(lock);
    return reconnects;
}

bool RtlTcpApi::waitCancelled(Clock::time_point deadline) {
    std::unique_lock guard(lock);
    return wake.wait_until(guard, deadline, [this] { return cancelRequested; });
}

UniqueFd RtlTcpApi::connectAndHandshake(std::string& why, rtltcp::Header& found) {
    const std::string prefix = "cannot connect to " + where() + ": ";
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(config.address.port);
    if (const int rc = getaddrinfo(config.address.host.c_str(), service.c_str(), &hints, &list);
        rc != 0) {
        why = prefix + gai_strerror(rc);
        return {};
    }
    const std::unique_ptr<addrinfo, AddrInfoFree> addresses(list);
    const Clock::time_point deadline = Clock::now() + config.connectTimeout;

    // Polls `fd` for `events` and the wake event; false with `why` set on cancel or timeout.
    const auto waitFor = [&](int fd, short events) {
        for (;;) {
            pollfd polled[2] = {{.fd = fd, .events = events, .revents = 0},
                                {.fd = wakeEvent.get(), .events = POLLIN, .revents = 0}};
            const int n = poll(polled, 2, millisecondsUntil(deadline));
            if (n < 0 && errno == EINTR) continue;
            if (polled[1].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto got = ::read(wakeEvent.get(), &count, sizeof count);
                std::lock_guard guard(lock);
                if (cancelRequested) {
                    why = "cancelled while connecting to " + where();
                    return false;
                }
            }
            if (polled[0].revents != 0) return true;
            if (n == 0 || Clock::now() >= deadline) {
                why = prefix + "no answer within " +
                      std::to_string(config.connectTimeout.count()) + " ms";
                return false;
            }
        }
    };

    UniqueFd connected;
    for (const addrinfo* a = addresses.get(); a != nullptr && !connected.isOpen(); a = a->ai_next) {
        UniqueFd fd(::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd.isOpen()) {
            why = prefix + systemMessage(errno);
            continue;
        }
        if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                why = prefix + systemMessage(errno);
                continue;
            }
            if (!waitFor(fd.get(), POLLOUT)) return {};
            int soError = 0;
            socklen_t length = sizeof soError;
            getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &length);
            if (soError != 0) {
                why = prefix + systemMessage(soError);
                continue;
            }
        }
        connected = std::move(fd);
    }
    if (!connected.isOpen()) return {};

    std::array<std::uint8_t, rtltcp::kHeaderBytes> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        if (!waitFor(connected.get(), POLLIN)) {
            if (why.starts_with(prefix)) why = where() + " sent no rtl_tcp header";
            return {};
        }
        const ssize_t n = recv(connected.get(), bytes.data() + got, bytes.size() - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // rtl_tcp serves one client at a time and closes the others at once.
            why = where() + " closed the connection before sending the rtl_tcp header "
                            "(is it serving another client?)";
            return {};
        }
    }
    const std::optional<rtltcp::Header> decoded = rtltcp::decodeHeader(bytes);
    if (!decoded) {
        why = where() + " is not an rtl_tcp server (no RTL0 header)";
        return {};
    }
    found = *decoded;
    const int on = 1;
    setsockopt(connected.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return connected;
}

int RtlTcpApi::open(Handle* handle, std::uint32_t index) {
    *handle = nullptr;
    {
        std::lock_guard guard(lock);
        if (deviceOpen || reading) {
            error = "rtl_tcp " + where() + " is already open";
            return kErrorBusy;
        }
        if (index != 0) {
            error = "an rtl_tcp server is device 0; there is no device " + std::to_string(index);
            return kErrorConnect;
        }
        cancelRequested = false;
    }
    std::uint64_t stale = 0;
    [[maybe_unused]] const auto drained = ::read(wakeEvent.get(), &stale, sizeof stale);
    std::string why;
    rtltcp::Header found;
    UniqueFd fd = connectAndHandshake(why, found);
    std::lock_guard guard(lock);
    if (!fd.isOpen()) {
        error = why;
        DebugLog::writef("📡 %s", why.c_str());
        return kErrorConnect;
    }
    error.clear();
    header = found;
    socket = std::move(fd);
    settings = {};
    reconnects = 0;
    deviceOpen = true;
    *handle = this;
    return 0;
}

int RtlTcpApi::close(Handle handle) {
    std::unique_lock guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    deviceOpen = false;
    if (!reading) {
        socket.reset();
        return 0;
    }
    cancelRequested = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeEvent.get(), &one, sizeof one);
    wake.notify_all();
    // Closed from inside a callback: the read drops the connection as it returns.
    if (std::this_thread::get_id() == readerThread) return 0;
    wake.wait(guard, [this] { return !reading; });
    return 0;
}

int RtlTcpApi::sendLocked(rtltcp::Command command, std::uint32_t parameter) {
    if (!socket.isOpen()) return 0;  // sent with the others once the link is back
    const auto bytes = rtltcp::encodeCommand(command, parameter);
    std::size_t sent = 0;
    const Clock::time_point deadline = Clock::now() + kSendTimeout;
    while (sent < bytes.size()) {
        const ssize_t n = send(socket.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Clock::now() < deadline) {
            pollfd out{.fd = socket.get(), .events = POLLOUT, .revents = 0};
            poll(&out, 1, millisecondsUntil(deadline));
            continue;
        }
        // Half a command would shift every later one: break the link so that the reader
        // reconnects and re-sends all settings whole.
        shutdown(socket.get(), SHUT_RDWR);
        return kErrorLinkDown;
    }
    return 0;
}

void RtlTcpApi::resendSettingsLocked() {
    using rtltcp::Command;
    const Settings& s = settings;
    if (s.sampleRateHz) sendLocked(Command::sampleRate, *s.sampleRateHz);
    if (s.centerFrequencyHz) sendLocked(Command::centerFrequency, *s.centerFrequencyHz);
    if (s.manualGain) sendLocked(Command::gainMode, static_cast<std::uint32_t>(*s.manualGain));
    if (s.gainTenthsDB) sendLocked(Command::gain, static_cast<std::uint32_t>(*s.gainTenthsDB));
    if (s.correctionPPM)
        sendLocked(Command::frequencyCorrection, static_cast<std::uint32_t>(*s.correctionPPM));
    if (s.agc) sendLocked(Command::agcMode, static_cast<std::uint32_t>(*s.agc));
}

int RtlTcpApi::setSampleRate(Handle handle, std::uint32_t rateHz) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    settings.sampleRateHz = rateHz;
    return sendLocked(rtltcp::Command::sampleRate, rateHz);
}

int RtlTcpApi::setCenterFreq(Handle handle, std::uint32_t frequencyHz) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    settings.centerFrequencyHz = frequencyHz;
    return sendLocked(rtltcp::Command::centerFrequency, frequencyHz);
}

int RtlTcpApi::setTunerGainMode(Handle handle, int manual) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    settings.manualGain = manual != 0 ? 1 : 0;
    return sendLocked(rtltcp::Command::gainMode, manual != 0 ? 1u : 0u);
}

int RtlTcpApi::setTunerGain(Handle handle, int tenthsDB) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    settings.gainTenthsDB = tenthsDB;
    return sendLocked(rtltcp::Command::gain, static_cast<std::uint32_t>(tenthsDB));
}

int RtlTcpApi::setAgcMode(Handle handle, int on) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    settings.agc = on != 0 ? 1 : 0;
    return sendLocked(rtltcp::Command::agcMode, on != 0 ? 1u : 0u);
}

int RtlTcpApi::setFreqCorrection(Handle handle, int ppm) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    settings.correctionPPM = ppm;
    return sendLocked(rtltcp::Command::frequencyCorrection, static_cast<std::uint32_t>(ppm));
}

int RtlTcpApi::resetBuffer(Handle handle) {
    std::lock_guard guard(lock);
    return isValid(handle) ? 0 : kErrorNotOpen;
}

int RtlTcpApi::cancelAsync(Handle handle) {
    std::lock_guard guard(lock);
    if (!isValid(handle)) return kErrorNotOpen;
    cancelRequested = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeEvent.get(), &one, sizeof one);
    wake.notify_all();
    return 0;
}

bool RtlTcpApi::reconnect(std::chrono::milliseconds& retryDelay, std::string& lastWhy) {
    if (waitCancelled(Clock::now() + retryDelay)) return false;
    std::string why;
    rtltcp::Header found;
    UniqueFd fresh = connectAndHandshake(why, found);
    std::lock_guard guard(lock);
    if (cancelRequested) return false;
    if (!fresh.isOpen()) {
        // Said once per cause, not on every attempt of a long outage.
        if (why != lastWhy) DebugLog::writef("📡 %s", why.c_str());
        lastWhy = why;
        error = why;
        retryDelay = std::min(retryDelay * 2, config.longestRetryDelay);
        return true;
    }
    DebugLog::writef("📡 rtl_tcp %s: connected again", where().c_str());
    socket = std::move(fresh);
    header = found;
    error.clear();
    lastWhy.clear();
    ++reconnects;
    retryDelay = config.firstRetryDelay;
    resendSettingsLocked();
    return true;
}

int RtlTcpApi::readAsync(Handle handle, ReadCallback callback, void* context,
                         std::uint32_t /*bufferCount*/, std::uint32_t bufferLength) {
    {
        std::lock_guard guard(lock);
        if (!isValid(handle) || callback == nullptr) return kErrorNotOpen;
        if (reading) return kErrorBusy;
        if (cancelRequested) {
            cancelRequested = false;
            return 0;
        }
        reading = true;
        readerThread = std::this_thread::get_id();
    }
    // Whole I/Q pairs only, so that a buffer never starts on a Q byte.
    const std::uint32_t lengthBytes =
        std::max<std::uint32_t>(2, (bufferLength == 0 ? kDefaultBufferBytes : bufferLength) & ~1u);
    std::vector<std::uint8_t> buffer(lengthBytes);
    std::size_t filled = 0;
    auto retryDelay = config.firstRetryDelay;
    std::string lastWhy;

    const auto dropLink = [&](const std::string& why) {
        DebugLog::writef("📡 rtl_tcp %s: %s; reconnecting", where().c_str(), why.c_str());
        std::lock_guard guard(lock);
        socket.reset();
        error = "rtl_tcp " + where() + ": " + why;
        // A pair cut by the drop would swap I and Q from here on.
        filled &= ~std::size_t{1};
    };

    for (;;) {
        int fd = -1;
        {
            std::lock_guard guard(lock);
            if (cancelRequested) break;
            fd = socket.get();
        }
        if (fd < 0) {
            if (!reconnect(retryDelay, lastWhy)) break;
            continue;
        }

        pollfd polled[2] = {{.fd = fd, .events = POLLIN, .revents = 0},
                            {.fd = wakeEvent.get(), .events = POLLIN, .revents = 0}};
        const int n = poll(polled, 2, static_cast<int>(config.stallTimeout.count()));
        if (n < 0) {
            if (errno == EINTR) continue;
            dropLink("poll failed: " + systemMessage(errno));
            continue;
        }
        if (polled[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wakeEvent.get(), &count, sizeof count);
            continue;  // the loop's top sees a cancel
        }
        if (n == 0) {
            dropLink("no data for " + std::to_string(config.stallTimeout.count()) + " ms");
            continue;
        }
        const ssize_t got = recv(fd, buffer.data() + filled, buffer.size() - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
            if (filled == buffer.size()) {
                callback(buffer.data(), lengthBytes, context);
                filled = 0;
            }
        } else if (got == 0) {
            dropLink("the server closed the connection");
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            dropLink(systemMessage(errno));
        }
    }

    std::lock_guard guard(lock);
    reading = false;
    cancelRequested = false;
    readerThread = {};
    if (!deviceOpen) socket.reset();
    wake.notify_all();
    return 0;
}
