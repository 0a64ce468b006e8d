#pragma once

// Shared by the rtl_tcp tests: a server on a free port serving a simulated dongle (an empty
// band, so rendering stays cheap), a record of the commands it applied, and a client reader.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "device/RtlTcpApi.h"
#include "device/RtlTcpServer.h"
#include "sim/VirtualRtlSdr.h"

namespace rtltcptest {

constexpr std::uint32_t kBufferBytes = 16'384;

// Network state changes on other threads; this bounds how long a test waits for one.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class CommandLog {
public:
    void add(const RtlTcpCommandEvent& e) {
        std::lock_guard guard(lock);
        events.push_back(e);
    }
    std::vector<RtlTcpCommandEvent> all() const {
        std::lock_guard guard(lock);
        return events;
    }
    std::size_t count(rtltcp::Command command, std::uint32_t parameter) const {
        std::lock_guard guard(lock);
        std::size_t n = 0;
        for (const RtlTcpCommandEvent& e : events)
            n += e.command == static_cast<std::uint8_t>(command) && e.parameter == parameter;
        return n;
    }

private:
    mutable std::mutex lock;
    std::vector<RtlTcpCommandEvent> events;
};

struct ServedDongle {
    explicit ServedDongle(std::shared_ptr<RFScene> scene = std::make_shared<RFScene>(),
                          double speed = 1.0, RtlTcpServerConfig config = {.port = 0})
        : dongle(std::make_shared<VirtualRtlSdr>(std::move(scene), VirtualRtlSdrConfig{.speed = speed})) {
        config.port = 0;
        config.onCommand = [log = commands](const RtlTcpCommandEvent& e) { log->add(e); };
        server = std::make_unique<RtlTcpServer>(dongle, std::move(config));
    }
    RtlTcpAddress address() const { return {.host = "127.0.0.1", .port = server->port()}; }

    std::shared_ptr<VirtualRtlSdr> dongle;
    std::shared_ptr<CommandLog> commands = std::make_shared<CommandLog>();
    std::unique_ptr<RtlTcpServer> server;
};

// An RtlTcpApi reading on its own thread, counting what arrives.
class ClientReader {
public:
    explicit ClientReader(RtlTcpApiConfig config) : api(std::move(config)) {}
    ~ClientReader() {
        stop();
        if (handle != nullptr) api.close(handle);
    }
    int open() { return api.open(&handle, 0); }
    void start() {
        thread = std::thread([this] {
            result = api.readAsync(handle, &ClientReader::onBuffer, this, 0, kBufferBytes);
        });
    }
    void stop() {
        if (!thread.joinable()) return;
        api.cancelAsync(handle);
        thread.join();
    }
    bool waitForBuffers(std::uint64_t more) {
        const std::uint64_t target = buffers.load() + more;
        return waitUntil([&] { return buffers.load() >= target; });
    }

    RtlTcpApi api;
    RtlSdrApi::Handle handle = nullptr;
    std::atomic<std::uint64_t> buffers{0};
    std::atomic<std::uint64_t> oddLengths{0};
    std::atomic<int> distinctBytesInLast{0};
    int result = -100;

private:
    static void onBuffer(unsigned char* bytes, std::uint32_t length, void* context) {
        auto* self = static_cast<ClientReader*>(context);
        if (length != kBufferBytes) self->oddLengths.fetch_add(1);
        bool seen[256] = {};
        int distinct = 0;
        for (std::uint32_t k = 0; k < length; ++k) distinct += !std::exchange(seen[bytes[k]], true);
        self->distinctBytesInLast.store(distinct);
        self->buffers.fetch_add(1);
    }
    std::thread thread;
};

// A plain TCP connection to the server, for clients that misbehave.
inline int connectRaw(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A server that stops sending fails the test instead of hanging it.
    const timeval limit{.tv_sec = 10, .tv_usec = 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads exactly `n` bytes, or fewer when the peer closes first.
inline std::vector<std::uint8_t> readRaw(int fd, std::size_t n) {
    std::vector<std::uint8_t> out(n);
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, out.data() + got, n - got, 0);
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return out;
}

}  // namespace rtltcptest
