#include "feeds/RigctlServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "platform/DebugLog.h"
#include "platform/ThreadSupport.h"

namespace {

constexpr int kListenBacklog = 8;
constexpr std::size_t kReadChunkBytes = 4096;
constexpr const char* kThreadName = "rigctl.tcp";

}  // namespace

RigctlServer::RigctlServer(RigctlServerConfig configuration, RigctlReceiver receiver)
    : config(std::move(configuration)),
      protocol(std::move(receiver)),
      listenSocket(openListeningSocket(config.bindAddress, config.port, kListenBacklog)),
      wakeEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!wakeEvent.isOpen())
        throw FeedServerError(FeedServerError::Kind::socketFailed, config.bindAddress, config.port,
                              errno);
    boundPort = localPort(listenSocket.get());
    thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

RigctlServer::~RigctlServer() {
    stop();
}

void RigctlServer::stop() {
    if (thread.joinable()) {
        thread.request_stop();
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeEvent.get(), &one, sizeof one);
        thread.join();
    }
    clients.clear();
    connectedClients.store(0, std::memory_order_relaxed);
    listenSocket.reset();
}

void RigctlServer::run(std::stop_token stop) {
    configureCurrentThread(kThreadName, ThreadPriority::utility);
    std::vector<pollfd> polled;
    while (!stop.stop_requested()) {
        polled.clear();
        polled.push_back({.fd = wakeEvent.get(), .events = POLLIN, .revents = 0});
        polled.push_back({.fd = listenSocket.get(), .events = POLLIN, .revents = 0});
        for (const auto& client : clients) {
            // A client being closed is not read any more: its last reply goes out, then it goes.
            const short events = static_cast<short>((client->closeWhenSent ? 0 : POLLIN) |
                                                    (client->sending.empty() ? 0 : POLLOUT));
            polled.push_back({.fd = client->socket.get(), .events = events, .revents = 0});
        }
        if (poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR) continue;
            DebugLog::writef("%s: poll failed: %s", kThreadName,
                             std::system_category().message(errno).c_str());
            return;
        }
        if (polled[0].revents & POLLIN) return;  // only stop() writes the eventfd
        // Clients accepted now are not in `polled` yet; they are polled next turn.
        const std::size_t polledClients = polled.size() - 2;
        for (std::size_t k = 0; k < polledClients; ++k) {
            Client& client = *clients[k];
            const short events = polled[k + 2].revents;
            if (events & (POLLIN | POLLHUP | POLLERR)) readCommands(client);
            if (!client.closed && !client.sending.empty()) flush(client);
            if (events & POLLNVAL) client.closed = true;
            if (client.closeWhenSent && client.sending.empty()) client.closed = true;
        }
        if (polled[1].revents & POLLIN) acceptClients();
        const std::size_t before = clients.size();
        std::erase_if(clients, [](const std::unique_ptr<Client>& c) { return c->closed; });
        connectedClients.store(clients.size(), std::memory_order_relaxed);
        if (clients.size() != before && config.onClientsChanged) config.onClientsChanged(clients.size());
    }
}

void RigctlServer::acceptClients() {
    bool changed = false;
    for (;;) {
        UniqueFd socket(accept4(listenSocket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.isOpen()) {
            if (errno == EINTR) continue;
            break;  // EAGAIN: none left; a reset connection or no fds: retried at next readiness
        }
        if (clients.size() >= config.maxClients) continue;  // closed as `socket` goes
        // Each reply is a few bytes the client waits for before its next command.
        const int on = 1;
        setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto client = std::make_unique<Client>();
        client->socket = std::move(socket);
        clients.push_back(std::move(client));
        changed = true;
    }
    connectedClients.store(clients.size(), std::memory_order_relaxed);
    if (changed && config.onClientsChanged) config.onClientsChanged(clients.size());
}

void RigctlServer::readCommands(Client& client) {
    std::array<char, kReadChunkBytes> chunk;
    // Bounded, so a client flooding us cannot keep the thread from the others.
    for (int round = 0; round < 16 && !client.closeWhenSent && !client.closed; ++round) {
        const ssize_t got = recv(client.socket.get(), chunk.data(), chunk.size(), 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            client.closed = true;  // orderly close or a reset; a half line left is dropped
            return;
        }
        client.received.append(chunk.data(), static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end; !client.closeWhenSent && !client.closed &&
                              (end = client.received.find('\n', start)) != std::string::npos;
             start = end + 1) {
            const std::string_view line(client.received.data() + start, end - start);
            if (line.size() > config.maxLineBytes) drop(client);
            else answerLine(client, line);
        }
        client.received.erase(0, start);
        if (client.received.size() > config.maxLineBytes) drop(client);
    }
}

void RigctlServer::answerLine(Client& client, std::string_view line) {
    const RigctlProtocol::Reply reply = protocol.handleLine(line);
    client.badLinesInARow = reply.isBadLine ? client.badLinesInARow + 1 : 0;
    if (client.badLinesInARow >= config.maxBadLines) {
        drop(client);
        return;
    }
    if (client.sending.size() + reply.text.size() > config.maxQueuedBytes) {
        // Sending commands without reading the replies: nothing sensible is left to say.
        misbehavingClients.fetch_add(1, std::memory_order_relaxed);
        client.closed = true;
        return;
    }
    client.sending += reply.text;
    client.closeWhenSent = reply.closesConnection;
}

void RigctlServer::drop(Client& client) {
    misbehavingClients.fetch_add(1, std::memory_order_relaxed);
    DebugLog::writef("%s: closing a client that sent no commands", kThreadName);
    client.sending += "RPRT -1\n";
    client.received.clear();
    client.closeWhenSent = true;
}

void RigctlServer::flush(Client& client) {
    while (!client.sending.empty()) {
        const ssize_t sent =
            send(client.socket.get(), client.sending.data(), client.sending.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            client.sending.erase(0, static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        client.closed = true;  // EPIPE, ECONNRESET: the reader is gone
        return;
    }
}
