#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device/RtlSdrApi.h"
#include "device/RtlTcpApi.h"
#include "feeds/FeedTCPServer.h"

// One command as the server applied it.
struct RtlTcpCommandEvent {
    std::uint8_t command = 0;  // rtltcp::Command value, or an unknown byte (ignored)
    std::uint32_t parameter = 0;
    bool known = false;
    int status = 0;  // the api's return value; 0 for unknown commands
    bool operator==(const RtlTcpCommandEvent&) const = default;
};

struct RtlTcpServerConfig {
    std::string bindAddress = "127.0.0.1";  // numeric IPv4 or IPv6
    std::uint16_t port = 1234;              // 0: the system picks a free one, see port()
    rtltcp::Header header{.tunerType = 6, .gainCount = 29};  // R828D and its 29 gain steps
    std::uint32_t initialFrequencyHz = 100'000'000;  // what rtl_tcp tunes to before commands
    std::uint32_t initialSampleRateHz = 2'048'000;
    std::uint32_t readBufferBytes = 131'072;  // per source buffer
    // Bytes waiting for the client beyond what its socket holds (about 2 s at 2,048,000
    // samples/s). Beyond it whole buffers are dropped: the source never waits for the network.
    std::size_t maxQueuedBytes = 8 * 1024 * 1024;
    // Runs on the server's network thread, outside any lock, for each command received.
    std::function<void(const RtlTcpCommandEvent&)> onCommand{};
};

// Serves one RtlSdrApi (a dongle, the simulated one, a recording) to rtl_tcp clients, one at a
// time as rtl_tcp does: a second connection is accepted and closed at once. A client gets the
// header, then the source's bytes; its 5-byte commands are applied to the api (unknown ones
// are ignored). The source streams only while a client is connected. Garbage, a client that
// vanishes or one too slow to read never stop the server; the next client is served.
//
// Two threads: the network thread polls the listening socket, the client and a wake event;
// the source thread runs the api's readAsync. The api is opened in the constructor, closed in
// stop(), and must outlive the server. Getters are safe from any thread; construction, stop
// and destruction from the owner. The constructor throws FeedServerError when the port
// cannot be bound, and RTLSDRError when the api does not open.
class RtlTcpServer {
public:
    RtlTcpServer(std::shared_ptr<RtlSdrApi> api, RtlTcpServerConfig config);
    ~RtlTcpServer();
    RtlTcpServer(const RtlTcpServer&) = delete;
    RtlTcpServer& operator=(const RtlTcpServer&) = delete;

    void stop();
    // Closes the connected client, as a lost link would; the next connection is served.
    void disconnectClient();

    std::uint16_t port() const { return boundPort; }
    const std::string& bindAddress() const { return config.bindAddress; }
    std::size_t clientCount() const { return clientConnected.load() ? 1 : 0; }
    std::uint64_t clientsServed() const { return served.load(); }
    std::uint64_t clientsRefused() const { return refused.load(); }
    std::uint64_t bytesSent() const { return sentBytes.load(); }
    std::uint64_t bytesDropped() const { return droppedBytes.load(); }
    // Signal the source delivered while a client was connected.
    double signalSeconds() const { return signalMicroseconds.load() / 1e6; }
    std::uint32_t centerFrequencyHz() const { return frequencyHz.load(); }
    std::uint32_t sampleRateHz() const { return rateHz.load(); }

private:
    struct Client {
        UniqueFd socket;
        std::array<std::uint8_t, rtltcp::kCommandBytes> command{};
        std::size_t commandFill = 0;
        std::string sending;  // network thread only
        std::size_t sendingDone = 0;
    };

    void runNetwork(std::stop_token stop);
    void runSource(std::stop_token stop);
    void wakeNetwork();
    void acceptClients();
    // False when the client is gone.
    bool readCommands(Client& c);
    bool flush(Client& c);
    void dropClient();
    RtlTcpCommandEvent apply(std::uint8_t command, std::uint32_t parameter);
    static void sourceCallback(unsigned char* bytes, std::uint32_t length, void* context);
    void enqueue(const unsigned char* bytes, std::uint32_t length);

    const std::shared_ptr<RtlSdrApi> api;
    const RtlTcpServerConfig config;
    RtlSdrApi::Handle handle = nullptr;
    UniqueFd listenSocket;
    UniqueFd wakeEvent;
    std::uint16_t boundPort = 0;
    std::unique_ptr<Client> client;  // network thread only
    std::atomic<bool> disconnectRequested{false};

    std::mutex queueLock;  // guards the three below
    std::condition_variable_any sourceWake;
    std::string queued;      // source bytes not yet handed to the network thread
    bool streaming = false;  // a client wants samples
    bool sourceRunning = false;

    std::atomic<bool> clientConnected{false};
    std::atomic<std::uint64_t> served{0};
    std::atomic<std::uint64_t> refused{0};
    std::atomic<std::uint64_t> sentBytes{0};
    std::atomic<std::uint64_t> droppedBytes{0};
    std::atomic<std::uint64_t> signalMicroseconds{0};
    std::atomic<std::uint32_t> frequencyHz;
    std::atomic<std::uint32_t> rateHz;

    std::jthread sourceThread;   // last: start after, and are joined before, what they use
    std::jthread networkThread;
};
