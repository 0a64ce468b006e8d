#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "adsb/ADSBAircraft.h"
#include "feeds/MQTTFeed.h"
#include "feeds/MQTTPublisher.h"

namespace {

using namespace std::chrono_literals;

TEST(MQTTPublisherTest, ParsesBrokerAddresses) {
    struct Case {
        const char* text;
        MQTTBrokerAddress expected;
    };
    const Case cases[] = {
        {"broker.lan", {.host = "broker.lan", .port = 1883}},
        {"127.0.0.1:18830", {.host = "127.0.0.1", .port = 18830}},
        {"[::1]:8883", {.host = "::1", .port = 8883}},
        {"[::1]", {.host = "::1", .port = 1883}},
        {"fe80::1", {.host = "fe80::1", .port = 1883}},  // bare IPv6: no port can be told apart
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseMQTTBroker(c.text), c.expected);
    }
    for (const char* bad :
         {"", ":1883", "host:", "host:0", "host:65536", "host:12x", "[::1", "[::1]x"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(parseMQTTBroker(bad), std::invalid_argument);
    }
}

TEST(MQTTPublisherTest, ReceiverNameBecomesOneSafeTopicLevel) {
    EXPECT_EQ(mqttTopic("roof", "adsb"), "vantirel/roof/adsb");
    // A slash would add a level, + and # are wildcards a broker refuses in a published topic.
    EXPECT_EQ(mqttTopic("a/b+c#d", "rds"), "vantirel/a_b_c_d/rds");
    EXPECT_EQ(mqttTopicLevel(std::string("x\0y\n", 4)), "x_y_");
    EXPECT_EQ(mqttTopicLevel(""), "receiver");
    EXPECT_EQ(mqttTopicLevel("Dachempfänger"), "Dachempfänger");  // UTF-8 is allowed
    EXPECT_EQ(mqttTopicLevel("Latin1 \xE4"), "Latin1 _");         // not UTF-8: refused by brokers
    EXPECT_FALSE(mqttDefaultReceiverName().empty());
}

TEST(MQTTPublisherTest, BacklogKeepsTheNewestFreshMessages) {
    const auto t0 = MQTTBacklog::Clock::now();
    MQTTBacklog backlog(3, 30s);
    for (int k = 0; k < 5; ++k)
        backlog.push({.topic = "t", .payload = std::to_string(k), .queuedAt = t0 + k * 10s});
    EXPECT_EQ(backlog.size(), 3u);
    EXPECT_EQ(backlog.dropped(), 2u);
    // At t0 + 52 s the message queued at 20 s is 32 s old: too old to send.
    const auto fresh = backlog.takeFresh(t0 + 52s);
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_EQ(fresh[0].payload, "3");
    EXPECT_EQ(fresh[1].payload, "4");
    EXPECT_EQ(backlog.dropped(), 3u);
    EXPECT_EQ(backlog.size(), 0u);
    EXPECT_TRUE(backlog.takeFresh(t0 + 60s).empty());
}

// A publisher whose broker is absent keeps a bounded backlog and publish() returns at once.
TEST(MQTTPublisherTest, WithoutABrokerPublishQueuesBoundedAndStopIsPrompt) {
    const auto start = std::chrono::steady_clock::now();
    {
        // Port 1 on loopback: nothing listens, the connection is refused.
        MQTTPublisher publisher({.broker = {.host = "127.0.0.1", .port = 1},
                                 .receiverName = "unit",
                                 .maxBacklogMessages = 10});
        EXPECT_EQ(publisher.topicPrefix(), "vantirel/unit/");
        for (int k = 0; k < 1'000; ++k) publisher.publish("adsb", "{}");
        EXPECT_FALSE(publisher.isConnected());
        EXPECT_EQ(publisher.publishedMessages(), 0u);
        EXPECT_EQ(publisher.droppedMessages(), 990u);
    }
    // The loop thread sleeps between attempts; stopping must wake it, not wait out the delay.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// A "broker" that answers the client's CONNECT with garbage and hangs up, again and again:
// the publisher must stay unconnected and alive, and stop cleanly.
TEST(MQTTPublisherTest, SurvivesAPeerThatSendsGarbage) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::uint16_t port = ntohs(address.sin_port);

    MQTTPublisher publisher(
        {.broker = {.host = "127.0.0.1", .port = port}, .receiverName = "unit"});
    int served = 0;
    const unsigned char garbage[] = {0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x13, 0x37, 0xC0};
    // Two rounds: the first attempt and one reconnection after the 1 s delay.
    while (served < 2) {
        pollfd p{.fd = listener, .events = POLLIN, .revents = 0};
        ASSERT_EQ(::poll(&p, 1, 15'000), 1) << "the publisher never (re)connected";
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(peer, 0);
        char connect[256];
        (void)::recv(peer, connect, sizeof connect, 0);
        (void)::send(peer, garbage, sizeof garbage, MSG_NOSIGNAL);
        publisher.publish("rds", "{\"pi\":\"0xC201\"}");
        ::close(peer);
        ++served;
        EXPECT_FALSE(publisher.isConnected());
    }
    ::close(listener);
    EXPECT_EQ(publisher.publishedMessages(), 0u);
}

TEST(MQTTFeedTest, PayloadIsCompactAndReplacesInvalidUTF8) {
    const nlohmann::json j = {{"ps", std::string("AB\xC3", 3)}, {"n", 1}};
    EXPECT_EQ(mqttPayload(j), "{\"n\":1,\"ps\":\"AB\xEF\xBF\xBD\"}");
}

TEST(MQTTFeedTest, AircraftPublishedOnlyWhenTheirRecordChanges) {
    MQTTAircraftChanges changes;
    ADSBAircraft a{.id = "3C6DD2", .icao = "3C6DD2", .altitude = 24'000, .messageCount = 1};
    ASSERT_TRUE(changes.take(a));
    // More messages with nothing new: no message.
    a.messageCount = 2;
    a.lastSeen += 1s;
    EXPECT_FALSE(changes.take(a));
    a.altitude = 24'025;
    const auto j = changes.take(a);
    ASSERT_TRUE(j);
    EXPECT_EQ((*j)["altitude"], 24'025);
    EXPECT_EQ((*j)["icao"], "3C6DD2");
    // Another aircraft with the same values is its own track.
    ADSBAircraft b = a;
    b.id = b.icao = "4CA123";
    EXPECT_TRUE(changes.take(b));
}

TEST(MQTTFeedTest, AircraftTableIsBoundedAndForgetsAllPastTheLimit) {
    MQTTAircraftChanges changes;
    for (std::size_t k = 0; k <= MQTTAircraftChanges::kMaxTracked; ++k) {
        const std::string icao = std::to_string(100'000 + k);
        ASSERT_TRUE(changes.take(ADSBAircraft{.id = icao, .icao = icao}));
    }
    // The first was forgotten when the table overflowed, so it counts as new again.
    EXPECT_TRUE(changes.take(ADSBAircraft{.id = "100000", .icao = "100000"}));
}

TEST(MQTTFeedTest, StationPublishedOnChangeOnceThePIIsKnown) {
    MQTTRDSChanges changes;
    RDSProgrammeInfo station{.ps = "VANTIREL"};
    EXPECT_FALSE(changes.take(station)) << "no PI yet";
    station.pi = 0xC201;
    const auto first = changes.take(station);
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)["pi"], "0xC201");
    EXPECT_EQ((*first)["ps"], "VANTIREL");
    EXPECT_FALSE(changes.take(station)) << "the same group again";
    station.radioText = "Now playing";
    const auto second = changes.take(station);
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)["radioText"], "Now playing");
    changes.reset();
    EXPECT_TRUE(changes.take(station));
}

TEST(MQTTFeedTest, DABNowPlayingAsJSON) {
    const MQTTDABNowPlaying playing{.ensembleLabel = "Vantirel DAB",
                                    .serviceId = 0x2C11,
                                    .serviceLabel = "Vantirel One",
                                    .dynamicLabel = "Artist - Title",
                                    .artist = "Artist"};
    const nlohmann::json j = mqttDABJSON(playing);
    EXPECT_EQ(j["serviceId"], "2C11");
    EXPECT_EQ(j["service"], "Vantirel One");
    EXPECT_EQ(j["dynamicLabel"], "Artist - Title");
    EXPECT_EQ(j["artist"], "Artist");
    EXPECT_TRUE(j["title"].is_null());
    EXPECT_TRUE(mqttDABJSON({})["serviceId"].is_null());
}

}  // namespace
