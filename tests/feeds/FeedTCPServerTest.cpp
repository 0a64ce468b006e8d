#include "feeds/FeedTCPServer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <random>

#include "FeedTestSupport.h"

namespace {

using namespace std::chrono_literals;

std::string numberedText(int from, int to) {
    std::string text;
    for (int k = from; k < to; ++k) text += "line " + std::to_string(k) + "\r\n";
    return text;
}

struct ServerWithWaiter {
    explicit ServerWithWaiter(FeedTCPServerConfig config = {}) {
        config.onClientsChanged = clients.callback();
        server = std::make_unique<FeedTCPServer>(std::move(config));
    }
    ClientCountWaiter clients;
    std::unique_ptr<FeedTCPServer> server;
};

}  // namespace

TEST(FeedTCPServerTest, EveryClientGetsTheWholeStreamInOrder) {
    ServerWithWaiter s;
    ASSERT_NE(s.server->port(), 0) << "port 0 asks for a free port, which must be reported";
    LoopbackClient first(s.server->port());
    LoopbackClient second(s.server->port());
    ASSERT_TRUE(first.isConnected() && second.isConnected());
    ASSERT_TRUE(s.clients.waitFor(2));
    // Many small broadcasts: order and completeness across the queue swaps.
    for (int k = 0; k < 2000; ++k) s.server->broadcast(numberedText(k, k + 1));
    const std::string expected = numberedText(0, 2000);
    EXPECT_EQ(first.receive(expected.size()), expected);
    EXPECT_EQ(second.receive(expected.size()), expected);
}

TEST(FeedTCPServerTest, GarbageAndVanishingClientsLeaveOthersUndisturbed) {
    ServerWithWaiter s;
    LoopbackClient steady(s.server->port());
    ASSERT_TRUE(s.clients.waitFor(1));
    s.server->broadcast(numberedText(0, 10));
    {
        // One client floods the server with noise and resets; another says goodbye politely.
        LoopbackClient noisy(s.server->port());
        LoopbackClient polite(s.server->port());
        ASSERT_TRUE(s.clients.waitFor(3));
        std::mt19937 random(7);
        std::string garbage(256 * 1024, '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        EXPECT_TRUE(noisy.send(garbage));
        s.server->broadcast(numberedText(10, 20));
        noisy.reset();
        polite.close();
    }
    ASSERT_TRUE(s.clients.waitFor(1)) << "closed connections must be noticed and removed";
    s.server->broadcast(numberedText(20, 30));
    const std::string expected = numberedText(0, 30);
    EXPECT_EQ(steady.receive(expected.size()), expected);
    EXPECT_EQ(s.server->droppedClients(), 0u) << "leaving is not being dropped";
}

TEST(FeedTCPServerTest, ClientThatStopsReadingIsDroppedAndOthersKeepUp) {
    ServerWithWaiter s({.maxQueuedBytes = 64 * 1024});
    LoopbackClient stalled(s.server->port(), /*receiveBufferBytes=*/4096);
    LoopbackClient reader(s.server->port());
    ASSERT_TRUE(s.clients.waitFor(2));
    const std::string chunk(16 * 1024, 'x');
    // Socket buffers on loopback hold a few MB; well before 64 MB the stalled client's queue
    // overflows. The reader takes each chunk before the next is sent, so it never falls behind.
    int sent = 0;
    for (; sent < 4096 && s.server->droppedClients() == 0; ++sent) {
        s.server->broadcast(chunk);
        ASSERT_EQ(reader.receive(chunk.size()), chunk) << "after " << sent << " chunks";
    }
    EXPECT_EQ(s.server->droppedClients(), 1u);
    ASSERT_TRUE(s.clients.waitFor(1));
    EXPECT_TRUE(stalled.waitForClose()) << "a dropped client must see its connection end";
    s.server->broadcast("still here\r\n");
    EXPECT_EQ(reader.receive(12), "still here\r\n");
}

TEST(FeedTCPServerTest, ConnectionsBeyondTheLimitAreClosed) {
    ServerWithWaiter s({.maxClients = 1});
    LoopbackClient admitted(s.server->port());
    ASSERT_TRUE(s.clients.waitFor(1));
    LoopbackClient extra(s.server->port());
    EXPECT_TRUE(extra.waitForClose());
    s.server->broadcast("hello\r\n");
    EXPECT_EQ(admitted.receive(7), "hello\r\n");
    EXPECT_EQ(s.server->clientCount(), 1u);
}

TEST(FeedTCPServerTest, StopEndsConnectionsAndLaterBroadcastsAreDropped) {
    ServerWithWaiter s;
    LoopbackClient client(s.server->port());
    ASSERT_TRUE(s.clients.waitFor(1));
    s.server->stop();
    EXPECT_TRUE(client.waitForClose());
    s.server->broadcast("nobody listens\r\n");
    EXPECT_EQ(s.server->clientCount(), 0u);
    LoopbackClient late(s.server->port());
    EXPECT_FALSE(late.isConnected()) << "the listening socket closes with the server";
}

TEST(FeedTCPServerTest, PortInUseIsABindFailureThatSaysSo) {
    FeedTCPServer first({});
    try {
        FeedTCPServer second({.port = first.port()});
        FAIL() << "a second server bound the same port";
    } catch (const FeedServerError& error) {
        EXPECT_EQ(error.kind, FeedServerError::Kind::bindFailed);
        EXPECT_EQ(error.errorNumber, EADDRINUSE);
        EXPECT_EQ(error.port, first.port());
        EXPECT_NE(error.describe().find("already in use"), std::string::npos) << error.describe();
        EXPECT_NE(error.describe().find(std::to_string(first.port())), std::string::npos);
    }
}

TEST(FeedTCPServerTest, OnlyNumericAddressesOfThisMachineAreAccepted) {
    struct Case {
        const char* address;
        FeedServerError::Kind kind;
    };
    // Names are refused rather than resolved; 192.0.2.1 (TEST-NET-1) is nobody's address here.
    const Case cases[] = {{"localhost", FeedServerError::Kind::badAddress},
                          {"300.1.1.1", FeedServerError::Kind::badAddress},
                          {"", FeedServerError::Kind::badAddress},
                          {"192.0.2.1", FeedServerError::Kind::bindFailed}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        try {
            FeedTCPServer server({.bindAddress = c.address});
            ADD_FAILURE() << "bound " << c.address;
        } catch (const FeedServerError& error) {
            EXPECT_EQ(error.kind, c.kind) << error.describe();
            EXPECT_FALSE(error.describe().empty());
        }
    }
}
