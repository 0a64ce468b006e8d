#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// Helpers for talking to the feeds from tests, written from the formats' public descriptions
// and not from the code under test.

// A blocking client on 127.0.0.1 whose reads give up after a deadline.
class LoopbackClient {
public:
    // A receive buffer size (before connecting) keeps a client that never reads small.
    explicit LoopbackClient(std::uint16_t port, int receiveBufferBytes = 0) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBufferBytes > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~LoopbackClient() { close(); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool isConnected() const { return connected; }

    // Whatever arrives until `count` bytes are in, the peer closes, or the deadline passes.
    std::string receive(std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            if (!waitReadable(deadline)) break;
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Lines ended by CR LF (without the ending), until `count` are in or the deadline passes.
    std::vector<std::string> receiveLines(std::size_t count,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::vector<std::string> lines;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (lines.size() < count) {
            const auto end = pending.find("\r\n");
            if (end != std::string::npos) {
                lines.push_back(pending.substr(0, end));
                pending.erase(0, end + 2);
                continue;
            }
            if (!waitReadable(deadline)) break;
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        return lines;
    }

    // True when the server ends the connection before the deadline; data still queued is read
    // and thrown away on the way.
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (!waitReadable(deadline)) return false;
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
        }
    }

    bool send(std::string_view bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Ends the connection with a reset instead of an orderly close.
    void reset() {
        const linger abort{.l_onoff = 1, .l_linger = 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close();
    }

    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

private:
    bool waitReadable(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready > 0) return true;
            if (ready == 0) return false;
            if (errno != EINTR) return false;
        }
    }

    int fd = -1;
    bool connected = false;
    std::string pending;
};

// Follows a server's client count through its onClientsChanged callback.
class ClientCountWaiter {
public:
    std::function<void(std::size_t)> callback() {
        return [this](std::size_t clients) {
            std::lock_guard guard(lock);
            count = clients;
            changed.notify_all();
        };
    }
    bool waitFor(std::size_t clients, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, timeout, [&] { return count == clients; });
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    std::size_t count = 0;
};

// One frame read back from a Beast stream.
struct BeastRecord {
    char type = 0;
    std::uint64_t ticks = 0;
    std::uint8_t signal = 0;
    std::vector<std::uint8_t> payload;
};

// Splits a Beast byte stream into frames: a lone 0x1a starts a frame, a doubled one is a data
// byte. Types '1' (Mode A/C, 2 bytes), '2' (7 bytes) and '3' (14 bytes) after 6 timestamp bytes
// and 1 signal byte. Bytes before the first frame start are skipped, as a late joiner would.
inline std::vector<BeastRecord> readBeastStream(std::string_view stream) {
    std::vector<BeastRecord> records;
    std::size_t k = 0;
    const auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(stream[i]); };
    while (k + 1 < stream.size()) {
        if (byteAt(k) != 0x1a || byteAt(k + 1) == 0x1a) {
            k += byteAt(k) == 0x1a ? 2 : 1;
            continue;
        }
        const char type = stream[k + 1];
        const std::size_t payloadBytes = type == '1' ? 2 : type == '2' ? 7 : type == '3' ? 14 : 0;
        if (payloadBytes == 0) {
            k += 2;
            continue;
        }
        std::vector<std::uint8_t> body;
        std::size_t i = k + 2;
        while (body.size() < 7 + payloadBytes && i < stream.size()) {
            if (byteAt(i) == 0x1a) {
                if (i + 1 >= stream.size() || byteAt(i + 1) != 0x1a) break;  // a new frame: cut short
                ++i;
            }
            body.push_back(byteAt(i++));
        }
        k = i;
        if (body.size() < 7 + payloadBytes) continue;
        BeastRecord record{.type = type};
        for (int b = 0; b < 6; ++b) record.ticks = (record.ticks << 8) | body[b];
        record.signal = body[6];
        record.payload.assign(body.begin() + 7, body.end());
        records.push_back(std::move(record));
    }
    return records;
}

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const std::string& stem) {
        std::random_device entropy;
        path = std::filesystem::temp_directory_path() /
               (stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(entropy()));
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::filesystem::path path;
};

// The comma-separated fields of a line, empty ones included.
inline std::vector<std::string> commaFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}
