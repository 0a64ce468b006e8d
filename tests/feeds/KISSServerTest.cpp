#include "feeds/KISSServer.h"

#include <gtest/gtest.h>

#include <random>

#include "FeedTestSupport.h"
#include "feeds/KISSFormat.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A KISS reader written from the protocol's description: frames between FENDs, FESC TFEND and
// FESC TFESC unescaped. Returns command byte and data of each non-empty frame.
std::vector<std::pair<std::uint8_t, Bytes>> readKISSStream(std::string_view stream) {
    std::vector<std::pair<std::uint8_t, Bytes>> frames;
    Bytes current;
    bool escaped = false;
    for (const char ch : stream) {
        const auto b = static_cast<std::uint8_t>(ch);
        if (b == 0xC0) {
            if (!current.empty()) frames.emplace_back(current[0], Bytes(current.begin() + 1, current.end()));
            current.clear();
            escaped = false;
        } else if (escaped) {
            current.push_back(b == 0xDC ? 0xC0 : b == 0xDD ? 0xDB : b);
            escaped = false;
        } else if (b == 0xDB) {
            escaped = true;
        } else {
            current.push_back(b);
        }
    }
    return frames;
}

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

// Frames of varied length full of the two special bytes, as a hostile information field would be.
std::vector<Bytes> awkwardFrames(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Bytes> frames;
    for (int k = 0; k < count; ++k) {
        Bytes frame(16 + random() % 300);
        for (auto& b : frame) {
            const unsigned pick = random() % 4;
            b = pick == 0 ? 0xC0 : pick == 1 ? 0xDB : static_cast<std::uint8_t>(random());
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::string expectedStream(const std::vector<Bytes>& frames) {
    std::string out;
    for (const Bytes& f : frames) appendKISSDataFrame(f, out);
    return out;
}

struct ServerWithWaiter {
    explicit ServerWithWaiter(KISSServerConfig config = {.port = 0}) {
        config.onClientsChanged = clients.callback();
        server = std::make_unique<KISSServer>(std::move(config));
    }
    ClientCountWaiter clients;
    std::unique_ptr<KISSServer> server;
};

}  // namespace

TEST(KISSFormatTest, EscapesFrameEndAndEscapeBytesInsideTheFrame) {
    const Bytes frame{0x41, 0xC0, 0x42, 0xDB, 0xDB, 0xDC, 0xDD, 0xC0, 0xC0};
    // A literal DB DC in the data must not read back as an escaped FEND.
    EXPECT_EQ(kissDataFrame(frame), bytesOf({0xC0, 0x00, 0x41, 0xDB, 0xDC, 0x42, 0xDB, 0xDD, 0xDB, 0xDD,
                                             0xDC, 0xDD, 0xDB, 0xDC, 0xDB, 0xDC, 0xC0}));
    EXPECT_EQ(kissDataFrame(Bytes{0x10, 0x20}), bytesOf({0xC0, 0x00, 0x10, 0x20, 0xC0}));
    EXPECT_EQ(kissDataFrame(Bytes{}), "") << "FEND FEND would be filler, not a frame";

    std::string appended = "x";
    appendKISSDataFrame(Bytes{0xC0}, appended);
    EXPECT_EQ(appended, "x" + bytesOf({0xC0, 0x00, 0xDB, 0xDC, 0xC0}));
}

TEST(KISSFormatTest, AnyFrameReadsBackWhole) {
    const auto frames = awkwardFrames(200, 11);
    const std::string stream = expectedStream(frames);
    const auto read = readKISSStream(stream);
    ASSERT_EQ(read.size(), frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        EXPECT_EQ(read[k].first, 0x00) << "port 0, data";
        EXPECT_EQ(read[k].second, frames[k]) << k;
    }
}

TEST(KISSServerTest, TwoClientsBothGetEveryFrame) {
    ServerWithWaiter s;
    ASSERT_NE(s.server->port(), 0);
    LoopbackClient first(s.server->port());
    LoopbackClient second(s.server->port());
    ASSERT_TRUE(first.isConnected() && second.isConnected());
    ASSERT_TRUE(s.clients.waitFor(2));
    const auto frames = awkwardFrames(300, 12);
    for (const Bytes& f : frames) s.server->sendFrame(f);
    s.server->sendFrame({});  // nothing to send, and not counted
    const std::string expected = expectedStream(frames);
    EXPECT_EQ(first.receive(expected.size()), expected);
    EXPECT_EQ(second.receive(expected.size()), expected);
    EXPECT_EQ(s.server->frameCount(), frames.size());

    APRSPacket packet;
    packet.frame = {0x82, 0xA0, 0xC0};
    s.server->send(packet);
    EXPECT_EQ(first.receive(7), kissDataFrame(packet.frame));
}

TEST(KISSServerTest, ClientsSendingFramesOrGarbageOrVanishingDoNotDisturbOthers) {
    ServerWithWaiter s;
    LoopbackClient steady(s.server->port());
    ASSERT_TRUE(s.clients.waitFor(1));
    const auto frames = awkwardFrames(120, 13);
    for (std::size_t k = 0; k < 40; ++k) s.server->sendFrame(frames[k]);
    {
        LoopbackClient transmitter(s.server->port());
        LoopbackClient noisy(s.server->port());
        LoopbackClient leaver(s.server->port());
        ASSERT_TRUE(s.clients.waitFor(4));
        // A frame to transmit, a TXDELAY command and a return-from-KISS: all ignored.
        EXPECT_TRUE(transmitter.send(kissDataFrame(frames[0]) + bytesOf({0xC0, 0x01, 0x32, 0xC0, 0xFF})));
        std::mt19937 random(5);
        std::string garbage(128 * 1024, '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        EXPECT_TRUE(noisy.send(garbage));
        for (std::size_t k = 40; k < 80; ++k) s.server->sendFrame(frames[k]);
        // Gone mid-stream: one after reading part of a frame, one with a reset.
        EXPECT_FALSE(leaver.receive(7, 1s).empty());
        leaver.close();
        noisy.reset();
    }
    ASSERT_TRUE(s.clients.waitFor(1)) << "closed connections must be noticed and removed";
    for (std::size_t k = 80; k < frames.size(); ++k) s.server->sendFrame(frames[k]);
    const std::string expected = expectedStream(frames);
    EXPECT_EQ(steady.receive(expected.size()), expected);
}
