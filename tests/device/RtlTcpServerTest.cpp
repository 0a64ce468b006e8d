#include "device/RtlTcpServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <random>

#include <gtest/gtest.h>

#include "RtlTcpTestSupport.h"

namespace {

using namespace rtltcptest;
using rtltcp::Command;

TEST(RtlTcpServerTest, ClientGetsTheHeaderItsCommandsAndSamples) {
    ServedDongle served;
    ClientReader client({.address = served.address()});
    ASSERT_EQ(client.open(), 0) << client.api.lastError();
    EXPECT_EQ(client.api.serverHeader(), (rtltcp::Header{.tunerType = 6, .gainCount = 29}));

    RtlSdrApi& api = client.api;
    EXPECT_EQ(api.setSampleRate(client.handle, 1'024'000), 0);
    EXPECT_EQ(api.setCenterFreq(client.handle, 92'100'000), 0);
    EXPECT_EQ(api.setTunerGainMode(client.handle, 1), 0);
    EXPECT_EQ(api.setTunerGain(client.handle, 229), 0);
    EXPECT_EQ(api.setFreqCorrection(client.handle, -3), 0);
    EXPECT_EQ(api.setAgcMode(client.handle, 1), 0);
    ASSERT_TRUE(waitUntil([&] { return served.commands->all().size() >= 6; }));

    // Sent in call order, each applied to the dongle with success.
    const std::vector<RtlTcpCommandEvent> expected = {
        {.command = 0x02, .parameter = 1'024'000, .known = true},
        {.command = 0x01, .parameter = 92'100'000, .known = true},
        {.command = 0x03, .parameter = 1, .known = true},
        {.command = 0x04, .parameter = 229, .known = true},
        {.command = 0x05, .parameter = static_cast<std::uint32_t>(-3), .known = true},
        {.command = 0x08, .parameter = 1, .known = true},
    };
    EXPECT_EQ(served.commands->all(), expected);
    const VirtualRtlSdr& d = *served.dongle;
    EXPECT_EQ(d.sampleRateHz(), 1'024'000u);
    EXPECT_EQ(d.centerFrequencyHz(), 92'100'000u);
    EXPECT_TRUE(d.isManualGainMode());
    EXPECT_EQ(d.tunerGainTenthsDB(), 229);
    EXPECT_EQ(d.frequencyCorrectionPPM(), -3);
    EXPECT_EQ(served.server->centerFrequencyHz(), 92'100'000u);

    client.start();
    ASSERT_TRUE(client.waitForBuffers(8));
    EXPECT_EQ(client.oddLengths.load(), 0u);
    // The receiver's noise (about half a step rms) around 127.5, not a constant fill.
    EXPECT_GE(client.distinctBytesInLast.load(), 3);
    client.stop();
    EXPECT_EQ(client.result, 0);
    EXPECT_EQ(served.server->clientCount(), 1u);
}

TEST(RtlTcpServerTest, ClientReconnectsAndResendsItsSettingsWhenTheLinkDrops) {
    ServedDongle served;
    ClientReader client({.address = served.address(), .firstRetryDelay = std::chrono::milliseconds(20)});
    ASSERT_EQ(client.open(), 0) << client.api.lastError();
    client.api.setSampleRate(client.handle, 1'024'000);
    client.api.setCenterFreq(client.handle, 95'700'000);
    client.api.setTunerGainMode(client.handle, 1);
    client.api.setTunerGain(client.handle, 372);
    client.start();
    ASSERT_TRUE(client.waitForBuffers(4));

    served.server->disconnectClient();
    ASSERT_TRUE(waitUntil([&] { return served.server->clientsServed() == 2; }));
    ASSERT_TRUE(waitUntil([&] { return served.commands->count(Command::gain, 372) == 2; }));
    EXPECT_EQ(served.commands->count(Command::sampleRate, 1'024'000), 2u);
    EXPECT_EQ(served.commands->count(Command::centerFrequency, 95'700'000), 2u);
    EXPECT_EQ(served.commands->count(Command::gainMode, 1), 2u);
    EXPECT_EQ(client.api.reconnectCount(), 1u);

    // Samples flow again, and a setter after the reconnect reaches the new connection.
    ASSERT_TRUE(client.waitForBuffers(4));
    client.api.setCenterFreq(client.handle, 88'000'000);
    ASSERT_TRUE(waitUntil([&] { return served.dongle->centerFrequencyHz() == 88'000'000u; }));
    EXPECT_EQ(client.oddLengths.load(), 0u);
}

// Clients that misbehave one after another, then a good one: the server serves it.
TEST(RtlTcpServerTest, SurvivesGarbageDisconnectsSlowReadersAndASecondClient) {
    ServedDongle served(std::make_shared<RFScene>(), 1.0, {.maxQueuedBytes = 64 * 1024});
    RtlTcpServer& server = *served.server;
    std::uint64_t clients = 0;

    {
        SCOPED_TRACE("garbage, ending in half a command");
        const int fd = connectRaw(server.port());
        ASSERT_GE(fd, 0);
        std::mt19937 rng(7);
        std::vector<std::uint8_t> junk(10'003);
        for (std::uint8_t& b : junk) b = static_cast<std::uint8_t>(rng());
        for (std::size_t k = 0; k < junk.size(); k += 5) junk[k] = 0x80 | junk[k];  // unknown commands
        junk[500] = 0x02;  // a random sample rate, out of the dongle's range
        ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(junk.size()));
        ASSERT_TRUE(waitUntil([&] { return served.commands->all().size() == junk.size() / 5; }));
        std::vector<RtlTcpCommandEvent> known;
        for (const RtlTcpCommandEvent& e : served.commands->all())
            if (e.known) known.push_back(e);
        ASSERT_EQ(known.size(), 1u);
        EXPECT_EQ(known[0].command, 0x02);
        EXPECT_LT(known[0].status, 0) << "rate " << known[0].parameter;
        EXPECT_EQ(server.sampleRateHz(), 2'048'000u) << "a refused rate is not taken";
        ::close(fd);
        ++clients;
    }
    {
        SCOPED_TRACE("leaves mid-stream");
        const int fd = connectRaw(server.port());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(readRaw(fd, 12 + 50'001).size(), 12u + 50'001u)
            << server.bytesSent() << " sent, " << served.dongle->deliveredBufferCount() << " rendered, "
            << server.clientCount() << " clients";
        ::close(fd);
        ++clients;
    }
    {
        SCOPED_TRACE("never reads: whole buffers are dropped, the source goes on");
        const int fd = connectRaw(server.port());
        ASSERT_GE(fd, 0);
        const std::uint64_t rendered = served.dongle->deliveredBufferCount();
        ASSERT_TRUE(waitUntil([&] { return server.bytesDropped() > 0; }));
        ASSERT_TRUE(waitUntil([&] { return served.dongle->deliveredBufferCount() > rendered + 8; }));
        ::close(fd);
        ++clients;
    }
    {
        SCOPED_TRACE("a second client while one is served");
        ClientReader first({.address = served.address()});
        ASSERT_EQ(first.open(), 0) << first.api.lastError();
        first.start();
        ++clients;
        ClientReader second({.address = served.address()});
        EXPECT_EQ(second.open(), RtlTcpApi::kErrorConnect);
        EXPECT_NE(second.api.lastError().find("closed the connection before sending the rtl_tcp header"),
                  std::string::npos)
            << second.api.lastError();
        EXPECT_EQ(server.clientsRefused(), 1u);
        ASSERT_TRUE(first.waitForBuffers(4));
    }

    ASSERT_TRUE(waitUntil([&] { return server.clientCount() == 0; }));
    ClientReader last({.address = served.address()});
    ASSERT_EQ(last.open(), 0) << last.api.lastError();
    last.api.setCenterFreq(last.handle, 100'500'000);
    last.start();
    ASSERT_TRUE(last.waitForBuffers(4));
    EXPECT_TRUE(waitUntil([&] { return served.dongle->centerFrequencyHz() == 100'500'000u; }));
    EXPECT_EQ(server.clientsServed(), clients + 1);
}

}  // namespace
