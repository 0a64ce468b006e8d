#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "feeds/FeedServerError.h"

// A file descriptor that closes itself.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd; }
    bool isOpen() const { return fd >= 0; }
    int release() { return std::exchange(fd, -1); }
    void reset();

private:
    int fd = -1;
};

// A non-blocking listening socket on a numeric address; throws FeedServerError. Shared by the
// servers that run their own poll loop.
UniqueFd openListeningSocket(const std::string& address, std::uint16_t port, int backlog);
// The port a bound socket got (what port 0 asked the system for); 0 when unknown.
std::uint16_t localPort(int socket);

struct FeedTCPServerConfig {
    std::string bindAddress = "127.0.0.1";  // numeric IPv4 or IPv6; "0.0.0.0" for every interface
    std::uint16_t port = 0;                 // 0: the system picks a free port, see port()
    std::string threadName = "feed.tcp";    // at most 15 characters are shown
    // Bytes waiting for one client beyond what its socket holds. A client that falls this far
    // behind is dropped: the decoder never waits for a reader.
    std::size_t maxQueuedBytes = 512 * 1024;
    std::size_t maxClients = 32;  // later connections are accepted and closed at once
    // Runs on the server's thread, outside any lock, whenever a client joins or leaves.
    std::function<void(std::size_t clients)> onClientsChanged{};
};

// A TCP server that sends one byte stream to every connected client: the shared transport of
// the feeds. One thread polls the listening socket, a wake-up eventfd and the non-blocking
// client sockets; broadcast() only appends to each client's bounded queue, so the producing
// thread never blocks on the network. What clients send is read and thrown away, and a client
// that vanishes or falls behind is closed without disturbing the others.
//
// Thread safety: broadcast() and the getters may be called from any thread; construction,
// stop() and destruction from the owning thread. The constructor throws FeedServerError when
// the address is not numeric or the port cannot be bound.
class FeedTCPServer {
public:
    explicit FeedTCPServer(FeedTCPServerConfig config);
    ~FeedTCPServer();
    FeedTCPServer(const FeedTCPServer&) = delete;
    FeedTCPServer& operator=(const FeedTCPServer&) = delete;

    // Closes every client and joins the thread; later broadcasts are dropped.
    void stop();

    // Queues `bytes` for every client connected now.
    void broadcast(std::string_view bytes);

    std::uint16_t port() const { return boundPort; }
    const std::string& bindAddress() const { return config.bindAddress; }
    std::size_t clientCount() const { return connectedClients.load(std::memory_order_relaxed); }
    // Clients closed because their queue overflowed.
    std::uint64_t droppedClients() const { return slowClientsDropped.load(std::memory_order_relaxed); }

private:
    struct Client {
        UniqueFd socket;             // server thread only
        std::string sending;         // server thread only: bytes being written
        std::size_t sentBytes = 0;   // of `sending`
        std::string queued;          // under `lock`: bytes broadcast since `sending` was filled
        bool overflowed = false;     // under `lock`
        bool closed = false;         // server thread only
    };

    void run(std::stop_token stop);
    void wake();
    void acceptClients();
    void readAndDiscard(Client& client);
    void flush(Client& client);
    // Removes closed and overflowed clients; true when the count changed.
    bool removeFinishedClients();

    FeedTCPServerConfig config;
    UniqueFd listenSocket;
    UniqueFd wakeEvent;  // eventfd: broadcast() and stop() end the thread's poll
    std::uint16_t boundPort = 0;

    std::mutex lock;  // guards `clients` (the list) and each client's queued/overflowed
    std::vector<std::unique_ptr<Client>> clients;
    std::atomic<std::size_t> connectedClients{0};
    std::atomic<std::uint64_t> slowClientsDropped{0};

    std::jthread thread;  // last: starts after, and is joined before, what it uses
};
