#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "aprs/APRSPacket.h"
#include "feeds/FeedTCPServer.h"

struct KISSServerConfig {
    static constexpr std::uint16_t kDefaultPort = 8001;  // where KISS TCP clients look

    std::string bindAddress = "127.0.0.1";  // numeric; "0.0.0.0" opens the LAN
    std::uint16_t port = kDefaultPort;      // 0: the system picks one, see port()
    // A client this far behind is dropped; the decoder never waits for it.
    std::size_t maxQueuedBytes = 256 * 1024;
    std::function<void(std::size_t clients)> onClientsChanged{};
};

// Received APRS frames for APRS clients (Xastir, YAAC, APRSIS32, Dire Wolf's kissutil) that talk
// to a TNC over KISS TCP. Every frame goes to every connected client as one KISS data frame on
// port 0. The receiver cannot transmit: KISS frames a client sends to be transmitted, parameter
// commands and any other bytes are read and thrown away.
//
// Thread safety: send() from any thread (the APRS thread in the receiver); construction and
// destruction on the owning thread. The constructor throws FeedServerError when the address is
// not numeric or the port cannot be bound.
class KISSServer {
public:
    explicit KISSServer(KISSServerConfig config);
    KISSServer(const KISSServer&) = delete;
    KISSServer& operator=(const KISSServer&) = delete;

    // Queues the packet's frame for every client; a packet without frame bytes is skipped.
    void send(const APRSPacket& packet) { sendFrame(packet.frame); }
    // One AX.25 frame without its FCS.
    void sendFrame(std::span<const std::uint8_t> frame);

    std::uint16_t port() const { return server.port(); }
    const std::string& bindAddress() const { return server.bindAddress(); }
    std::size_t clientCount() const { return server.clientCount(); }
    // Frames handed to the clients connected at the time.
    std::uint64_t frameCount() const { return frames.load(std::memory_order_relaxed); }

private:
    FeedTCPServer server;
    std::atomic<std::uint64_t> frames{0};
};
