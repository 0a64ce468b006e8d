#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "feeds/FeedTCPServer.h"
#include "feeds/RigctlProtocol.h"

struct RigctlServerConfig {
    static constexpr std::uint16_t kDefaultPort = 4532;  // where rigctld listens

    std::string bindAddress = "127.0.0.1";  // numeric IPv4 or IPv6; "0.0.0.0" for every interface
    std::uint16_t port = kDefaultPort;      // 0: the system picks a free port, see port()
    // A longer line is no command: the client gets RPRT -1 and is closed.
    std::size_t maxLineBytes = 1024;
    // Lines in a row that are noise or unknown commands before the client is closed.
    int maxBadLines = 16;
    // Reply bytes waiting for a client that does not read; beyond this it is closed.
    std::size_t maxQueuedBytes = 64 * 1024;
    std::size_t maxClients = 16;  // later connections are accepted and closed at once
    // Runs on the server's thread whenever a client joins or leaves.
    std::function<void(std::size_t clients)> onClientsChanged{};
};

// A rigctld for this receiver: hamlib clients (rigctl -m 2, logging and satellite programs)
// connect over TCP, send one command per line and read the replies. One thread polls the
// listening socket, a wake-up eventfd and every client; each client has its own bounded line
// buffer, so one client's garbage or disconnect never disturbs another. Commands run one at a
// time on the server's thread through RigctlReceiver, which may block briefly.
//
// Construction, stop() and destruction on the owning thread; getters from any thread. The
// constructor throws FeedServerError when the address is not numeric or the port is taken.
class RigctlServer {
public:
    RigctlServer(RigctlServerConfig config, RigctlReceiver receiver);
    ~RigctlServer();
    RigctlServer(const RigctlServer&) = delete;
    RigctlServer& operator=(const RigctlServer&) = delete;

    // Closes every client and joins the thread.
    void stop();

    std::uint16_t port() const { return boundPort; }
    const std::string& bindAddress() const { return config.bindAddress; }
    std::size_t clientCount() const { return connectedClients.load(std::memory_order_relaxed); }
    // Clients closed for an overlong line, too much noise or not reading their replies.
    std::uint64_t droppedClients() const { return misbehavingClients.load(std::memory_order_relaxed); }

private:
    struct Client {
        UniqueFd socket;
        std::string received;     // bytes after the last complete line
        std::string sending;      // replies not yet written
        int badLinesInARow = 0;
        bool closeWhenSent = false;  // after quit, or the RPRT -1 to a misbehaving client
        bool closed = false;
    };

    void run(std::stop_token stop);
    void acceptClients();
    void readCommands(Client& client);
    void answerLine(Client& client, std::string_view line);
    void drop(Client& client);
    void flush(Client& client);

    RigctlServerConfig config;
    RigctlProtocol protocol;
    UniqueFd listenSocket;
    UniqueFd wakeEvent;  // eventfd: stop() ends the thread's poll
    std::uint16_t boundPort = 0;

    std::vector<std::unique_ptr<Client>> clients;  // server thread only while it runs
    std::atomic<std::size_t> connectedClients{0};
    std::atomic<std::uint64_t> misbehavingClients{0};

    std::jthread thread;  // last: starts after, and is joined before, what it uses
};
