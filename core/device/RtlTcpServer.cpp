#include "device/RtlTcpServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "device/RTLSDRError.h"
#include "platform/DebugLog.h"
#include "platform/ThreadSupport.h"

namespace {

constexpr int kListenBacklog = 4;
// Bounded, so a client flooding commands cannot keep the thread from sending samples.
constexpr int kMaxReadRounds = 16;
// After the source fails to stream, before it is tried again.
constexpr auto kSourceRetryDelay = std::chrono::seconds(1);

}  // namespace

RtlTcpServer::RtlTcpServer(std::shared_ptr<RtlSdrApi> source, RtlTcpServerConfig configuration)
    : api(std::move(source)),
      config(std::move(configuration)),
      listenSocket(openListeningSocket(config.bindAddress, config.port, kListenBacklog)),
      wakeEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      frequencyHz(config.initialFrequencyHz),
      rateHz(config.initialSampleRateHz) {
    if (!wakeEvent.isOpen())
        throw FeedServerError(FeedServerError::Kind::socketFailed, config.bindAddress, config.port,
                              errno);
    boundPort = localPort(listenSocket.get());
    if (const int status = api->open(&handle, 0); status != 0) throw RTLSDRError::openFailed(status);
    api->setSampleRate(handle, config.initialSampleRateHz);
    api->setCenterFreq(handle, config.initialFrequencyHz);
    sourceThread = std::jthread([this](std::stop_token stop) { runSource(stop); });
    networkThread = std::jthread([this](std::stop_token stop) { runNetwork(stop); });
}

RtlTcpServer::~RtlTcpServer() {
    stop();
}

void RtlTcpServer::stop() {
    if (networkThread.joinable()) {
        networkThread.request_stop();
        wakeNetwork();
        networkThread.join();  // drops the client, which cancels the source's read
    }
    if (sourceThread.joinable()) {
        sourceThread.request_stop();
        api->cancelAsync(handle);
        sourceThread.join();
    }
    if (listenSocket.isOpen()) {
        listenSocket.reset();
        api->close(handle);
    }
}

void RtlTcpServer::disconnectClient() {
    disconnectRequested.store(true);
    wakeNetwork();
}

void RtlTcpServer::wakeNetwork() {
    const std::uint64_t one = 1;
    // A full counter (never in practice) already means "wake up".
    [[maybe_unused]] const auto written = ::write(wakeEvent.get(), &one, sizeof one);
}

void RtlTcpServer::runSource(std::stop_token stop) {
    configureCurrentThread("rtltcp.source", ThreadPriority::defaultPriority);
    while (!stop.stop_requested()) {
        {
            std::unique_lock guard(queueLock);
            if (!sourceWake.wait(guard, stop, [this] { return streaming; })) return;
            sourceRunning = true;
        }
        const int status = api->readAsync(handle, &RtlTcpServer::sourceCallback, this, 0,
                                          config.readBufferBytes);
        std::unique_lock guard(queueLock);
        sourceRunning = false;
        if (status != 0) {
            DebugLog::writef("📡 rtl_tcp server: the source stopped streaming (%d)", status);
            sourceWake.wait_for(guard, stop, kSourceRetryDelay, [] { return false; });
        }
    }
}

void RtlTcpServer::sourceCallback(unsigned char* bytes, std::uint32_t length, void* context) {
    static_cast<RtlTcpServer*>(context)->enqueue(bytes, length);
}

void RtlTcpServer::enqueue(const unsigned char* bytes, std::uint32_t length) {
    bool wasEmpty = false;
    bool stillStreaming = true;
    {
        std::lock_guard guard(queueLock);
        stillStreaming = streaming;
    }
    // The client left; a source that missed the cancel is stopped here.
    if (!stillStreaming) {
        api->cancelAsync(handle);
        return;
    }
    {
        std::lock_guard guard(queueLock);
        if (!streaming) return;
        const std::uint32_t rate = std::max<std::uint32_t>(1, rateHz.load());
        signalMicroseconds.fetch_add(static_cast<std::uint64_t>(length / 2) * 1'000'000 / rate);
        // Whole buffers only, so the client's I/Q pairs stay aligned across a drop. An empty
        // queue always takes one, however small the limit.
        if (!queued.empty() && queued.size() + length > config.maxQueuedBytes) {
            droppedBytes.fetch_add(length);
            return;
        }
        wasEmpty = queued.empty();
        queued.append(reinterpret_cast<const char*>(bytes), length);
    }
    if (wasEmpty) wakeNetwork();
}

void RtlTcpServer::runNetwork(std::stop_token stop) {
    configureCurrentThread("rtltcp.net", ThreadPriority::utility);
    while (!stop.stop_requested()) {
        if (disconnectRequested.exchange(false) && client) dropClient();
        pollfd polled[3] = {{.fd = wakeEvent.get(), .events = POLLIN, .revents = 0},
                            {.fd = listenSocket.get(), .events = POLLIN, .revents = 0},
                            {.fd = -1, .events = 0, .revents = 0}};
        if (client) {
            bool hasData = client->sendingDone < client->sending.size();
            if (!hasData) {
                std::lock_guard guard(queueLock);
                hasData = !queued.empty();
            }
            polled[2] = {.fd = client->socket.get(),
                         .events = static_cast<short>(POLLIN | (hasData ? POLLOUT : 0)),
                         .revents = 0};
        }
        if (poll(polled, 3, -1) < 0) {
            if (errno == EINTR) continue;
            DebugLog::writef("📡 rtl_tcp server: poll failed: %s", std::strerror(errno));
            break;
        }
        if (polled[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wakeEvent.get(), &count, sizeof count);
        }
        if (client && polled[2].revents != 0) {
            bool alive = !(polled[2].revents & POLLNVAL);
            if (alive && (polled[2].revents & (POLLIN | POLLHUP | POLLERR))) alive = readCommands(*client);
            if (alive && (polled[2].revents & POLLOUT)) alive = flush(*client);
            if (!alive) dropClient();
        }
        if (polled[1].revents & POLLIN) acceptClients();
    }
    if (client) dropClient();
}

void RtlTcpServer::acceptClients() {
    for (;;) {
        UniqueFd socket(accept4(listenSocket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.isOpen()) {
            if (errno == EINTR) continue;
            break;  // EAGAIN: none left; other errors are retried at the next readiness
        }
        if (client) {
            // One client at a time, as rtl_tcp: closing without a header tells it so.
            refused.fetch_add(1);
            DebugLog::writef("📡 rtl_tcp server: refused a second client");
            continue;
        }
        client = std::make_unique<Client>();
        client->socket = std::move(socket);
        const auto header = rtltcp::encodeHeader(config.header);
        client->sending.assign(header.begin(), header.end());
        {
            std::lock_guard guard(queueLock);
            queued.clear();
            streaming = true;
        }
        sourceWake.notify_all();
        clientConnected.store(true);
        served.fetch_add(1);
        DebugLog::writef("📡 rtl_tcp server: client connected");
    }
}

void RtlTcpServer::dropClient() {
    client.reset();
    clientConnected.store(false);
    bool running = false;
    {
        std::lock_guard guard(queueLock);
        streaming = false;
        queued.clear();
        running = sourceRunning;
    }
    // Cancelling a read that never started would end the next client's read at once.
    if (running) api->cancelAsync(handle);
    DebugLog::writef("📡 rtl_tcp server: client gone");
}

bool RtlTcpServer::readCommands(Client& c) {
    std::array<std::uint8_t, 4096> scratch;
    for (int round = 0; round < kMaxReadRounds; ++round) {
        const ssize_t got = recv(c.socket.get(), scratch.data(), scratch.size(), 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        for (ssize_t k = 0; k < got; ++k) {
            c.command[c.commandFill++] = scratch[static_cast<std::size_t>(k)];
            if (c.commandFill < c.command.size()) continue;
            c.commandFill = 0;
            const std::uint32_t parameter = (std::uint32_t{c.command[1]} << 24) |
                                            (std::uint32_t{c.command[2]} << 16) |
                                            (std::uint32_t{c.command[3]} << 8) | c.command[4];
            const RtlTcpCommandEvent event = apply(c.command[0], parameter);
            if (config.onCommand) config.onCommand(event);
        }
    }
    return true;
}

RtlTcpCommandEvent RtlTcpServer::apply(std::uint8_t command, std::uint32_t parameter) {
    using rtltcp::Command;
    RtlTcpCommandEvent e{.command = command, .parameter = parameter, .known = true};
    // The parameters of gain and correction are signed on the wire.
    const auto asSigned = static_cast<std::int32_t>(parameter);
    switch (static_cast<Command>(command)) {
    case Command::centerFrequency:
        e.status = api->setCenterFreq(handle, parameter);
        if (e.status == 0) frequencyHz.store(parameter);
        break;
    case Command::sampleRate:
        e.status = api->setSampleRate(handle, parameter);
        if (e.status == 0) rateHz.store(parameter);
        break;
    case Command::gainMode: e.status = api->setTunerGainMode(handle, parameter != 0 ? 1 : 0); break;
    case Command::gain: e.status = api->setTunerGain(handle, asSigned); break;
    case Command::frequencyCorrection: e.status = api->setFreqCorrection(handle, asSigned); break;
    case Command::agcMode: e.status = api->setAgcMode(handle, parameter != 0 ? 1 : 0); break;
    default: e.known = false; break;
    }
    return e;
}

bool RtlTcpServer::flush(Client& c) {
    for (;;) {
        if (c.sendingDone == c.sending.size()) {
            c.sending.clear();
            c.sendingDone = 0;
            std::lock_guard guard(queueLock);
            if (queued.empty()) return true;
            // Swapping keeps both buffers' capacity: steady streaming allocates nothing.
            std::swap(c.sending, queued);
        }
        const ssize_t sent = send(c.socket.get(), c.sending.data() + c.sendingDone,
                                  c.sending.size() - c.sendingDone, MSG_NOSIGNAL);
        if (sent > 0) {
            c.sendingDone += static_cast<std::size_t>(sent);
            sentBytes.fetch_add(static_cast<std::uint64_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}
