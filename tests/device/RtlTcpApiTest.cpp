#include "device/RtlTcpApi.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <stdexcept>

#include <gtest/gtest.h>

#include "RtlTcpTestSupport.h"
#include "sim/SignalSource.h"

namespace {

using namespace rtltcptest;

// A listening socket on a free loopback port; the port is refused once it is closed.
struct Listener {
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
        ::listen(fd, 4);
        socklen_t length = sizeof at;
        getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
        port = ntohs(at.sin_port);
    }
    ~Listener() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fd = -1;
    std::uint16_t port = 0;
};

TEST(RtlTcpApiTest, ParsesAddressesAndExplainsBadOnes) {
    struct Good { const char* text; RtlTcpAddress expected; };
    const Good good[] = {
        {"rtltcp://127.0.0.1:1234", {.host = "127.0.0.1", .port = 1234}},
        {"rtltcp://pi.lan:7373", {.host = "pi.lan", .port = 7373}},
        {"rtltcp://[::1]:1234", {.host = "::1", .port = 1234}},
        {"192.168.1.5:65535", {.host = "192.168.1.5", .port = 65535}},
    };
    for (const Good& g : good) {
        SCOPED_TRACE(g.text);
        std::string error;
        EXPECT_EQ(parseRtlTcpAddress(g.text, error), g.expected) << error;
    }
    struct Bad { const char* text; const char* says; };
    const Bad bad[] = {
        {"rtltcp://", "needs a port"},
        {"rtltcp://pi.lan", "needs a port"},
        {"rtltcp://:1234", "no usable host"},
        {"rtltcp://pi.lan:12ab", "port must be a number"},
        {"rtltcp://pi.lan:70000", "port must be a number"},
        {"rtltcp://::1:1234", "IPv6 host in brackets"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.text);
        std::string error;
        EXPECT_FALSE(parseRtlTcpAddress(b.text, error));
        EXPECT_NE(error.find(b.says), std::string::npos) << error;
        EXPECT_THROW(makeSignalSource({.choice = b.text}), std::invalid_argument);
    }
    const SignalSource source = makeSignalSource({.choice = "rtltcp://127.0.0.1:1234", .audio = false});
    EXPECT_EQ(source.description, "rtl_tcp 127.0.0.1:1234");
}

// Byte layouts as rtl_tcp writes them: big endian, signed values in two's complement.
TEST(RtlTcpApiTest, EncodesHeaderAndCommands) {
    const auto header = rtltcp::encodeHeader({.tunerType = 6, .gainCount = 29});
    const std::array<std::uint8_t, 12> expected{'R', 'T', 'L', '0', 0, 0, 0, 6, 0, 0, 0, 29};
    EXPECT_EQ(header, expected);
    EXPECT_EQ(rtltcp::decodeHeader(header), (rtltcp::Header{.tunerType = 6, .gainCount = 29}));
    std::array<std::uint8_t, 12> http{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '2', '0', '0'};
    EXPECT_FALSE(rtltcp::decodeHeader(http));

    using B = std::array<std::uint8_t, 5>;
    EXPECT_EQ(rtltcp::encodeCommand(rtltcp::Command::centerFrequency, 92'100'000),
              (B{0x01, 0x05, 0x7D, 0x55, 0xA0}));
    EXPECT_EQ(rtltcp::encodeCommand(rtltcp::Command::frequencyCorrection, static_cast<std::uint32_t>(-3)),
              (B{0x05, 0xFF, 0xFF, 0xFF, 0xFD}));
}

TEST(RtlTcpApiTest, OpenFailsWithAClearErrorWhenNothingAnswersRight) {
    {
        SCOPED_TRACE("connection refused");
        Listener gone;
        gone.close();
        RtlTcpApi api({.address = {.host = "127.0.0.1", .port = gone.port}});
        RtlSdrApi::Handle handle = nullptr;
        EXPECT_EQ(api.open(&handle, 0), RtlTcpApi::kErrorConnect);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(api.lastError(),
                  "cannot connect to 127.0.0.1:" + std::to_string(gone.port) + ": Connection refused");
        EXPECT_EQ(api.setCenterFreq(handle, 100'000'000), RtlTcpApi::kErrorNotOpen);
    }
    {
        SCOPED_TRACE("a server of something else");
        Listener web;
        auto answer = std::async(std::launch::async, [&] {
            const int fd = ::accept(web.fd, nullptr, nullptr);
            const char reply[] = "HTTP/1.1 400 Bad Request\r\n\r\n";
            ::send(fd, reply, sizeof reply - 1, MSG_NOSIGNAL);
            return fd;
        });
        RtlTcpApi api({.address = {.host = "127.0.0.1", .port = web.port}});
        RtlSdrApi::Handle handle = nullptr;
        EXPECT_EQ(api.open(&handle, 0), RtlTcpApi::kErrorConnect);
        EXPECT_NE(api.lastError().find("is not an rtl_tcp server"), std::string::npos) << api.lastError();
        ::close(answer.get());
    }
    {
        SCOPED_TRACE("a server that accepts and says nothing");
        Listener mute;
        RtlTcpApi api({.address = {.host = "127.0.0.1", .port = mute.port},
                       .connectTimeout = std::chrono::milliseconds(200)});
        RtlSdrApi::Handle handle = nullptr;
        EXPECT_EQ(api.open(&handle, 0), RtlTcpApi::kErrorConnect);
        EXPECT_NE(api.lastError().find("sent no rtl_tcp header"), std::string::npos) << api.lastError();
    }
}

// The server goes away for good: the client keeps trying, and a cancel still ends the read.
TEST(RtlTcpApiTest, CancelEndsTheReadWhileItWaitsToReconnect) {
    auto served = std::make_unique<ServedDongle>();
    ClientReader client({.address = served->address(),
                         .firstRetryDelay = std::chrono::milliseconds(10),
                         .longestRetryDelay = std::chrono::milliseconds(40)});
    ASSERT_EQ(client.open(), 0) << client.api.lastError();
    client.start();
    ASSERT_TRUE(client.waitForBuffers(2));
    served.reset();
    ASSERT_TRUE(waitUntil([&] { return client.api.lastError().find("Connection refused") != std::string::npos; }));
    client.stop();
    EXPECT_EQ(client.result, 0);
    EXPECT_EQ(client.api.reconnectCount(), 0u);
}

}  // namespace
