#include "feeds/RigctlServer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "FeedTestSupport.h"
#include "control/RigControlAdapter.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_view_literals;

// The receiver behind the server, with a switch for one that stops answering.
struct FakeRig {
    std::mutex lock;
    std::int64_t frequencyHz = 92'100'000;
    RigctlMode mode = RigctlMode::wfm;
    int strengthDB = -7;
    bool answers = true;
    int setFrequencyCalls = 0;

    RigctlReceiver receiver() {
        return {
            .getFrequencyHz = [this]() -> std::optional<std::int64_t> {
                std::lock_guard guard(lock);
                if (!answers) return std::nullopt;
                return frequencyHz;
            },
            .setFrequencyHz = [this](std::int64_t hz) {
                std::lock_guard guard(lock);
                ++setFrequencyCalls;
                if (answers) frequencyHz = hz;
                return answers;
            },
            .getMode = [this]() -> std::optional<RigctlMode> {
                std::lock_guard guard(lock);
                if (!answers) return std::nullopt;
                return mode;
            },
            .setMode = [this](RigctlMode m) {
                std::lock_guard guard(lock);
                if (answers) mode = m;
                return answers;
            },
            .getStrengthDB = [this]() -> std::optional<int> {
                std::lock_guard guard(lock);
                if (!answers) return std::nullopt;
                return strengthDB;
            },
        };
    }
    std::int64_t frequency() {
        std::lock_guard guard(lock);
        return frequencyHz;
    }
};

struct RigctlFixture : ::testing::Test {
    RigctlFixture() {
        server = std::make_unique<RigctlServer>(
            RigctlServerConfig{.port = 0, .onClientsChanged = clients.callback()}, rig.receiver());
    }
    // Sends `command` and expects exactly `reply` back (and nothing before the next exchange).
    void expectReply(LoopbackClient& client, std::string_view command, std::string_view reply) {
        ASSERT_TRUE(client.send(command));
        EXPECT_EQ(client.receive(reply.size()), reply) << "for " << command;
    }
    FakeRig rig;
    ClientCountWaiter clients;
    std::unique_ptr<RigctlServer> server;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST_F(RigctlFixture, HandshakeGivesWhatNetRigctlReads) {
    LoopbackClient client(server->port());
    ASSERT_TRUE(client.isConnected());
    expectReply(client, "\\chk_vfo\n", "0\n");
    ASSERT_TRUE(client.send("\\dump_state\n"));
    std::string dump;
    while (!dump.ends_with("done\n")) {
        const std::string more = client.receive(1, 2s);
        if (more.empty()) break;
        dump += more;
    }
    const std::vector<std::string> got = lines(dump);
    ASSERT_GT(got.size(), 30u);
    EXPECT_EQ(got[0], "1") << "protocol version 1: settings follow, ended by done";
    EXPECT_EQ(got[1], "2") << "the NET rigctl model";
    EXPECT_EQ(got[3], "24000000.000000 1766000000.000000 0x61 -1 -1 0x1 0x1")
        << "receive range of an R828D, in AM, FM and WFM";
    EXPECT_EQ(got[4], "0 0 0 0 0 0 0");
    EXPECT_EQ(got[5], "0 0 0 0 0 0 0") << "a receiver has no transmit range";
    // Filters as get_mode reports them: a client checks the passband against this list.
    for (const char* filter : {"0x40 200000", "0x20 12500", "0x1 10000"})
        EXPECT_NE(std::find(got.begin(), got.end(), filter), got.end()) << filter;
    EXPECT_NE(std::find(got.begin(), got.end(), "0x40000000"), got.end()) << "STRENGTH readable";
    EXPECT_EQ(got.back(), "done");
    EXPECT_NE(std::find(got.begin(), got.end(), "rig_model=2"), got.end());
    expectReply(client, "f\n", "92100000\n");  // the connection goes on after the dump
}

TEST_F(RigctlFixture, FrequencyAndModeRoundTripInShortAndLongForms) {
    LoopbackClient client(server->port());
    expectReply(client, "f\n", "92100000\n");
    expectReply(client, "F 95700000.000000\n", "RPRT 0\n");
    EXPECT_EQ(rig.frequency(), 95'700'000);
    expectReply(client, "get_freq\n", "95700000\n");
    expectReply(client, "\\set_freq 101500000\r\n", "RPRT 0\n");
    expectReply(client, "\\get_freq\n", "101500000\n");
    // Outside the tuner, or no number: refused without touching the receiver.
    expectReply(client, "F 10000\n", "RPRT -1\n");
    expectReply(client, "F 2000000000\n", "RPRT -1\n");
    expectReply(client, "F nan\n", "RPRT -1\n");
    expectReply(client, "F 95e6x\n", "RPRT -1\n");
    expectReply(client, "F\n", "RPRT -1\n");
    EXPECT_EQ(rig.frequency(), 101'500'000);

    expectReply(client, "m\n", "WFM\n200000\n");
    expectReply(client, "M FM 12500\n", "RPRT 0\n");
    expectReply(client, "get_mode\n", "FM\n12500\n");
    expectReply(client, "\\set_mode AM 0\n", "RPRT 0\n");
    expectReply(client, "m\n", "AM\n10000\n");
    expectReply(client, "M WFM\n", "RPRT 0\n");
    expectReply(client, "m\n", "WFM\n200000\n");
    expectReply(client, "M USB 2400\n", "RPRT -1\n");
    expectReply(client, "M FM wide\n", "RPRT -1\n");
    expectReply(client, "m\n", "WFM\n200000\n");
}

TEST_F(RigctlFixture, FixedAnswersLevelsAndCommandsWeCannotCarryOut) {
    LoopbackClient client(server->port());
    expectReply(client, "l STRENGTH\n", "-7\n");
    expectReply(client, "\\get_level STRENGTH\n", "-7\n");
    expectReply(client, "l RFPOWER\n", "RPRT -11\n");
    expectReply(client, "l\n", "RPRT -1\n");
    expectReply(client, "v\n", "VFOA\n");
    expectReply(client, "V VFOA\n", "RPRT 0\n");
    expectReply(client, "V VFOZ\n", "RPRT -1\n");
    expectReply(client, "t\n", "0\n");
    expectReply(client, "s\n", "0\nVFOA\n");
    expectReply(client, "\\get_powerstat\n", "1\n");
    expectReply(client, "\\get_lock_mode\n", "0\n");
    // Known to rigctld, impossible here: "not available", not "invalid".
    expectReply(client, "T 1\n", "RPRT -11\n");
    expectReply(client, "L AF 0.5\n", "RPRT -11\n");
    expectReply(client, "\\set_powerstat 0\n", "RPRT -11\n");
    expectReply(client, "\\dump_caps\n", "RPRT -11\n");
    expectReply(client, "hello\n", "RPRT -1\n");
    // An empty line gets no answer: the next reply is the next command's.
    expectReply(client, "\n", "");
    expectReply(client, "f\n", "92100000\n");
}

TEST_F(RigctlFixture, ExtendedRepliesEchoTheCommandAndUseTheSeparator) {
    LoopbackClient client(server->port());
    expectReply(client, "+f\n", "get_freq:\nFrequency: 92100000\nRPRT 0\n");
    expectReply(client, ";m\n", "get_mode:;Mode: WFM;Passband: 200000;RPRT 0\n");
    expectReply(client, "|F 95700000\n", "set_freq: 95700000|RPRT 0\n");
    expectReply(client, "+\\get_freq\n", "get_freq:\nFrequency: 95700000\nRPRT 0\n");
    expectReply(client, "+ s\n", "get_split_vfo:\nSplit: 0\nTX VFO: VFOA\nRPRT 0\n");
    expectReply(client, "+l STRENGTH\n", "get_level: STRENGTH\n-7\nRPRT 0\n");
    expectReply(client, "+F 5\n", "set_freq: 5\nRPRT -1\n");
    expectReply(client, "+T 1\n", "set_ptt: 1\nRPRT -11\n");
    expectReply(client, "+\n", "RPRT -1\n");
}

TEST_F(RigctlFixture, ReceiverThatDoesNotAnswerIsReportedAsTimeout) {
    rig.answers = false;
    LoopbackClient client(server->port());
    expectReply(client, "f\n", "RPRT -5\n");
    expectReply(client, "F 95700000\n", "RPRT -5\n");
    expectReply(client, "M FM 0\n", "RPRT -5\n");
    expectReply(client, "l STRENGTH\n", "RPRT -5\n");
    expectReply(client, "v\n", "VFOA\n");  // what needs no receiver still answers
}

TEST_F(RigctlFixture, TwoClientsShareTheReceiverAndQuitEndsOnlyOne) {
    LoopbackClient first(server->port());
    LoopbackClient second(server->port());
    ASSERT_TRUE(clients.waitFor(2));
    expectReply(first, "F 88500000\n", "RPRT 0\n");
    expectReply(second, "f\n", "88500000\n");
    // A command split across writes, and several in one write, each answered in order.
    ASSERT_TRUE(second.send("F 1015"));
    expectReply(first, "f\n", "88500000\n");
    expectReply(second, "00000\nf\nm\n", "RPRT 0\n101500000\nWFM\n200000\n");
    expectReply(first, "q\n", "RPRT 0\n");
    EXPECT_TRUE(first.waitForClose(2s));
    ASSERT_TRUE(clients.waitFor(1));
    expectReply(second, "f\n", "101500000\n");
}

TEST_F(RigctlFixture, GarbageOverlongLinesAndHalfLinesNeverReachTheReceiver) {
    LoopbackClient steady(server->port());
    ASSERT_TRUE(clients.waitFor(1));
    {
        // Noise on one line is answered and forgiven ...
        LoopbackClient noisy(server->port());
        expectReply(noisy, "F\x01\xff 9\0 7\n"sv, "RPRT -1\n");
        expectReply(noisy, "f\n", "92100000\n");
        // ... but a stream of it closes the connection.
        std::string noise;
        for (int k = 0; k < 40; ++k) noise += "\x1b[0m\x80garbage\n";
        ASSERT_TRUE(noisy.send(noise));
        EXPECT_TRUE(noisy.waitForClose(2s)) << "a client that sends only noise is closed";
    }
    {
        // A line past the limit, without or with its newline, is refused and the client closed.
        LoopbackClient flooding(server->port());
        ASSERT_TRUE(flooding.send(std::string(4096, 'F')));
        EXPECT_EQ(flooding.receive(8, 2s), "RPRT -1\n");
        EXPECT_TRUE(flooding.waitForClose(2s));
        LoopbackClient longLine(server->port());
        ASSERT_TRUE(longLine.send("F " + std::string(2000, '9') + "\n"));
        EXPECT_EQ(longLine.receive(8, 2s), "RPRT -1\n");
        EXPECT_TRUE(longLine.waitForClose(2s));
    }
    {
        // A client gone in the middle of a command: the half command is not carried out.
        LoopbackClient vanishing(server->port());
        ASSERT_TRUE(clients.waitFor(2));
        ASSERT_TRUE(vanishing.send("F 107900000"));
        vanishing.reset();
        ASSERT_TRUE(clients.waitFor(1));
    }
    EXPECT_EQ(rig.setFrequencyCalls, 0);
    EXPECT_EQ(rig.frequency(), 92'100'000);
    EXPECT_GE(server->droppedClients(), 3u);
    expectReply(steady, "f\n", "92100000\n");  // the others never noticed
}

TEST_F(RigctlFixture, TakenPortIsReportedAtConstruction) {
    EXPECT_THROW(RigctlServer({.port = server->port()}, rig.receiver()), FeedServerError);
    EXPECT_THROW(RigctlServer({.bindAddress = "localhost", .port = 0}, rig.receiver()), FeedServerError)
        << "names are never looked up";
}

TEST(RigControlAdapterTest, ChannelLevelMapsOntoTheSScale) {
    EXPECT_EQ(strengthRelativeToS9(-30.0f), 0);     // S9
    EXPECT_EQ(strengthRelativeToS9(-25.4f), 5);     // a strong station: S9+5
    EXPECT_EQ(strengthRelativeToS9(-60.0f), -30);   // an empty channel: S4
    EXPECT_EQ(strengthRelativeToS9(-84.0f), -54);   // S0
    EXPECT_EQ(strengthRelativeToS9(-150.0f), -54);  // nothing reads below S0
    EXPECT_EQ(strengthRelativeToS9(-30.6f), -1);    // rounds, does not truncate towards S9
}
