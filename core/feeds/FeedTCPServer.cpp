#include "feeds/FeedTCPServer.h"

#include <netdb.h>
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

constexpr int kListenBacklog = 16;
constexpr std::size_t kReadChunkBytes = 4096;

struct AddrInfoFree {
    void operator()(addrinfo* info) const noexcept { freeaddrinfo(info); }
};

}  // namespace

UniqueFd openListeningSocket(const std::string& address, std::uint16_t port, int backlog) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // Numeric only: a host name would need a resolver, and the server must not look anything up.
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0)
        throw FeedServerError(FeedServerError::Kind::badAddress, address, port, rc);
    const std::unique_ptr<addrinfo, AddrInfoFree> info(found);

    UniqueFd socket(::socket(info->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.isOpen())
        throw FeedServerError(FeedServerError::Kind::socketFailed, address, port, errno);
    // A restarted feed may rebind at once although old connections linger in TIME_WAIT.
    const int on = 1;
    setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(socket.get(), info->ai_addr, info->ai_addrlen) != 0)
        throw FeedServerError(FeedServerError::Kind::bindFailed, address, port, errno);
    if (listen(socket.get(), backlog) != 0)
        throw FeedServerError(FeedServerError::Kind::listenFailed, address, port, errno);
    return socket;
}

std::uint16_t localPort(int socket) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd = other.release();
    }
    return *this;
}

void UniqueFd::reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

FeedTCPServer::FeedTCPServer(FeedTCPServerConfig configuration)
    : config(std::move(configuration)),
      listenSocket(openListeningSocket(config.bindAddress, config.port, kListenBacklog)),
      wakeEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!wakeEvent.isOpen())
        throw FeedServerError(FeedServerError::Kind::socketFailed, config.bindAddress, config.port,
                              errno);
    boundPort = localPort(listenSocket.get());
    thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

FeedTCPServer::~FeedTCPServer() {
    stop();
}

void FeedTCPServer::stop() {
    if (thread.joinable()) {
        thread.request_stop();
        wake();
        thread.join();
    }
    std::lock_guard guard(lock);
    clients.clear();
    connectedClients.store(0, std::memory_order_relaxed);
    listenSocket.reset();
}

void FeedTCPServer::wake() {
    const std::uint64_t one = 1;
    // A full counter (never in practice) already means "wake up", so the result is not needed.
    [[maybe_unused]] const auto written = ::write(wakeEvent.get(), &one, sizeof one);
}

void FeedTCPServer::broadcast(std::string_view bytes) {
    if (bytes.empty()) return;
    bool needsWake = false;
    {
        std::lock_guard guard(lock);
        for (const auto& client : clients) {
            if (client->overflowed) continue;
            if (client->queued.size() + bytes.size() > config.maxQueuedBytes) {
                client->overflowed = true;
                client->queued.clear();
                needsWake = true;
                continue;
            }
            // Only a queue that was empty may be unknown to the thread's current poll.
            needsWake = needsWake || client->queued.empty();
            client->queued.append(bytes);
        }
    }
    if (needsWake) wake();
}

void FeedTCPServer::run(std::stop_token stop) {
    configureCurrentThread(config.threadName, ThreadPriority::utility);
    std::vector<pollfd> polled;
    std::vector<Client*> polledClients;
    while (!stop.stop_requested()) {
        polled.clear();
        polledClients.clear();
        polled.push_back({.fd = wakeEvent.get(), .events = POLLIN, .revents = 0});
        polled.push_back({.fd = listenSocket.get(), .events = POLLIN, .revents = 0});
        {
            std::lock_guard guard(lock);
            for (const auto& client : clients) {
                const bool hasData = !client->sending.empty() || !client->queued.empty();
                polled.push_back({.fd = client->socket.get(),
                                  .events = static_cast<short>(POLLIN | (hasData ? POLLOUT : 0)),
                                  .revents = 0});
                polledClients.push_back(client.get());
            }
        }
        if (poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR) continue;
            DebugLog::writef("%s: poll failed: %s", config.threadName.c_str(),
                             std::system_category().message(errno).c_str());
            return;
        }
        if (polled[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wakeEvent.get(), &count, sizeof count);
        }
        if (polled[1].revents & POLLIN) acceptClients();
        // Clients accepted just now are not in `polledClients`; they are polled next turn.
        for (std::size_t k = 0; k < polledClients.size(); ++k) {
            Client& client = *polledClients[k];
            const short events = polled[k + 2].revents;
            if (events & (POLLIN | POLLHUP | POLLERR)) readAndDiscard(client);
            if (!client.closed && (events & POLLOUT)) flush(client);
            if (events & POLLNVAL) client.closed = true;
        }
        if (removeFinishedClients() && config.onClientsChanged)
            config.onClientsChanged(connectedClients.load(std::memory_order_relaxed));
    }
}

void FeedTCPServer::acceptClients() {
    bool changed = false;
    for (;;) {
        UniqueFd socket(accept4(listenSocket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.isOpen()) {
            if (errno == EINTR) continue;
            // EAGAIN: none left. Anything else (a connection reset before it was taken, no fds
            // left) is retried at the next readiness.
            break;
        }
        // Feed lines are small and wanted now, not batched.
        const int on = 1;
        setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard guard(lock);
        if (clients.size() >= config.maxClients) continue;  // closed as `socket` goes
        auto client = std::make_unique<Client>();
        client->socket = std::move(socket);
        clients.push_back(std::move(client));
        connectedClients.store(clients.size(), std::memory_order_relaxed);
        changed = true;
    }
    if (changed && config.onClientsChanged)
        config.onClientsChanged(connectedClients.load(std::memory_order_relaxed));
}

void FeedTCPServer::readAndDiscard(Client& client) {
    std::array<char, kReadChunkBytes> scratch;
    // Bounded, so a client flooding us cannot keep the thread from the others.
    for (int round = 0; round < 16; ++round) {
        const ssize_t got = recv(client.socket.get(), scratch.data(), scratch.size(), 0);
        if (got > 0) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (got < 0 && errno == EINTR) continue;
        client.closed = true;  // orderly close (0) or a reset
        return;
    }
}

void FeedTCPServer::flush(Client& client) {
    for (;;) {
        if (client.sentBytes == client.sending.size()) {
            client.sending.clear();
            client.sentBytes = 0;
            std::lock_guard guard(lock);
            if (client.overflowed || client.queued.empty()) return;
            // Swapping keeps both buffers' capacity: steady streaming allocates nothing.
            std::swap(client.sending, client.queued);
        }
        const ssize_t sent = send(client.socket.get(), client.sending.data() + client.sentBytes,
                                  client.sending.size() - client.sentBytes, MSG_NOSIGNAL);
        if (sent > 0) {
            client.sentBytes += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        client.closed = true;  // EPIPE, ECONNRESET: the reader is gone
        return;
    }
}

bool FeedTCPServer::removeFinishedClients() {
    std::lock_guard guard(lock);
    const std::size_t before = clients.size();
    std::erase_if(clients, [this](const std::unique_ptr<Client>& client) {
        if (client->overflowed) {
            slowClientsDropped.fetch_add(1, std::memory_order_relaxed);
            DebugLog::writef("%s: dropped a client that fell %zu bytes behind",
                             config.threadName.c_str(), config.maxQueuedBytes);
            return true;
        }
        return client->closed;
    });
    connectedClients.store(clients.size(), std::memory_order_relaxed);
    return clients.size() != before;
}
