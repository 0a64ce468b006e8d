// The command line's --mqtt against a real broker: mosquitto and mosquitto_sub run as black
// boxes on 127.0.0.1. The receiver runs on the simulated dongle, whose demo world has the
// RDS station 0xC201 "VANTIREL" on 92.1 MHz and aircraft on 1090 MHz.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/PeerPrograms.h"

namespace {

using namespace peer;

// mosquitto_sub -v lines "topic payload" whose topic is `topic`, payloads parsed.
std::vector<nlohmann::json> messagesOn(const ChildProcess& sub, const std::string& topic) {
    std::vector<nlohmann::json> out;
    std::stringstream lines(sub.output());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(topic + " ", 0) != 0) continue;
        out.push_back(nlohmann::json::parse(line.substr(topic.size() + 1), nullptr, false));
    }
    return out;
}

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Polls `check` every 100 ms: the broker and the receiver run on their own clocks.
bool eventually(const std::function<bool()>& check, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (check()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(100ms);
    }
}

class MQTTFeedE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto broker = findProgram("mosquitto");
        const auto sub = findProgram("mosquitto_sub");
        if (!broker) GTEST_SKIP() << "mosquitto is not installed (apt install mosquitto)";
        if (!sub) GTEST_SKIP() << "mosquitto_sub is not installed (apt install mosquitto-clients)";
        brokerProgram = *broker;
        subProgram = *sub;
        // mosquitto_sub buffers its output into a file; line buffering lets the test read it live.
        stdbufProgram = findProgram("stdbuf").value_or("");
        if (stdbufProgram.empty()) GTEST_SKIP() << "stdbuf (coreutils) is missing";
        dir = fs::temp_directory_path() /
              ("vantirel-mqtt-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        port = freeLoopbackPort();
        std::ofstream(dir / "broker.conf") << "listener " << port << " 127.0.0.1\n"
                                           << "allow_anonymous true\n";
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }

    std::unique_ptr<ChildProcess> startBroker() {
        auto broker = std::make_unique<ChildProcess>(
            brokerProgram, std::vector<std::string>{"-c", (dir / "broker.conf").string()},
            dir / ("broker" + std::to_string(++logCount) + ".log"));
        EXPECT_TRUE(eventually([&] { return accepts(port); }, 10s)) << broker->output();
        return broker;
    }
    // Subscribed once its SUBACK is logged, so nothing published after that is missed.
    std::unique_ptr<ChildProcess> subscribe() {
        auto sub = std::make_unique<ChildProcess>(
            stdbufProgram,
            std::vector<std::string>{"-oL", subProgram, "-h", "127.0.0.1", "-p",
                                     std::to_string(port), "-t", "vantirel/test/#", "-v", "-d",
                                     "-W", "60"},
            dir / ("sub" + std::to_string(++logCount) + ".log"));
        EXPECT_TRUE(
            eventually([&] { return sub->output().find("SUBACK") != std::string::npos; }, 10s))
            << sub->output();
        return sub;
    }
    std::unique_ptr<ChildProcess> startCli(const std::vector<std::string>& tail) {
        std::vector<std::string> args{"--source",    "sim",
                                      "--mqtt",      "127.0.0.1:" + std::to_string(port),
                                      "--mqtt-name", "test"};
        args.insert(args.end(), tail.begin(), tail.end());
        return std::make_unique<ChildProcess>(
            (fs::path(VANTIREL_BINARY_DIR) / "tools" / "vantirel-cli").string(), args,
            dir / ("cli" + std::to_string(++logCount) + ".log"));
    }

    std::string brokerProgram, subProgram, stdbufProgram;
    fs::path dir;
    std::uint16_t port = 0;
    int logCount = 0;
};

bool hasStation(const std::vector<nlohmann::json>& messages) {
    for (const auto& m : messages)
        if (m.is_object() && m.value("pi", "") == "0xC201" && m.value("ps", "") == "VANTIREL")
            return true;
    return false;
}

TEST_F(MQTTFeedE2ETest, ListenPublishesStationChangesAndStatus) {
    auto broker = startBroker();
    auto sub = subscribe();
    auto cli =
        startCli({"--speed", "2", "listen", "--mhz", "92.1", "--no-audio", "--seconds", "6"});
    ASSERT_TRUE(eventually([&] { return !cli->isRunning(); }, 60s));
    EXPECT_TRUE(cli->exitedCleanly()) << cli->output();
    ASSERT_TRUE(eventually([&] { return hasStation(messagesOn(*sub, "vantirel/test/rds")); }, 5s))
        << sub->output();
    const auto rds = messagesOn(*sub, "vantirel/test/rds");
    // On change only: a few messages as the station's items come in, not ~11 a second.
    EXPECT_LT(rds.size(), 40u);
    for (std::size_t k = 1; k < rds.size(); ++k) EXPECT_NE(rds[k], rds[k - 1]) << k;
    // Online on connect, offline on a clean stop.
    EXPECT_TRUE(eventually(
        [&] { return sub->output().find("vantirel/test/status offline") != std::string::npos; },
        5s));
    EXPECT_NE(sub->output().find("vantirel/test/status online"), std::string::npos);
}

TEST_F(MQTTFeedE2ETest, ADSBUpdatesSurviveABrokerRestart) {
    auto broker = startBroker();
    auto sub = subscribe();
    auto cli = startCli({"--speed", "1", "adsb", "--seconds", "120"});
    ASSERT_TRUE(eventually([&] { return !messagesOn(*sub, "vantirel/test/adsb").empty(); }, 30s))
        << sub->output() << cli->output();
    const nlohmann::json first = messagesOn(*sub, "vantirel/test/adsb").front();
    EXPECT_EQ(first["icao"].get<std::string>().size(), 6u) << first;
    EXPECT_TRUE(first.contains("trail"));

    sub.reset();
    broker->end();
    broker = startBroker();
    sub = subscribe();
    // Reconnection waits at most 10 s between attempts.
    EXPECT_TRUE(eventually([&] { return !messagesOn(*sub, "vantirel/test/adsb").empty(); }, 30s))
        << sub->output();
    EXPECT_TRUE(cli->isRunning()) << cli->output();
}

// Every packet the command prints also went to the broker, whole.
TEST_F(MQTTFeedE2ETest, APRSPacketsArriveAsTheCommandPrintsThem) {
    auto broker = startBroker();
    auto sub = subscribe();
    auto cli = startCli({"--speed", "2", "aprs", "--mhz", "144.8", "--seconds", "24"});
    ASSERT_TRUE(eventually([&] { return !cli->isRunning(); }, 90s));
    EXPECT_TRUE(cli->exitedCleanly()) << cli->output();
    std::vector<nlohmann::json> printed;
    std::stringstream lines(cli->output());
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_object() && j.contains("packet")) printed.push_back(j["packet"]);
    }
    ASSERT_FALSE(printed.empty()) << cli->output();
    ASSERT_TRUE(eventually(
        [&] { return messagesOn(*sub, "vantirel/test/aprs").size() >= printed.size(); }, 5s))
        << sub->output();
    const auto published = messagesOn(*sub, "vantirel/test/aprs");
    for (const auto& packet : printed) {
        SCOPED_TRACE(packet.dump());
        EXPECT_NE(std::find(published.begin(), published.end(), packet), published.end());
    }
}

// The demo ensemble's first DAB+ service sends "Sada svira: ARTIST - TITLE" with DL Plus tags.
TEST_F(MQTTFeedE2ETest, DABSelectionAndNowPlayingArriveOnChange) {
    auto broker = startBroker();
    auto sub = subscribe();
    auto cli = startCli({"dab", "--channel", "12C", "--no-audio", "--seconds", "20"});
    ASSERT_TRUE(eventually([&] { return !cli->isRunning(); }, 90s));
    EXPECT_TRUE(cli->exitedCleanly()) << cli->output();
    const auto dab = messagesOn(*sub, "vantirel/test/dab");
    ASSERT_FALSE(dab.empty()) << sub->output();
    EXPECT_EQ(dab.front()["serviceId"], "2C11");
    const auto playing = std::find_if(dab.begin(), dab.end(), [](const nlohmann::json& j) {
        return j["dynamicLabel"].is_string() && j["artist"].is_string() && j["title"].is_string();
    });
    ASSERT_NE(playing, dab.end()) << sub->output();
    const std::string label = (*playing)["dynamicLabel"];
    EXPECT_NE(label.find((*playing)["artist"].get<std::string>()), std::string::npos) << label;
    EXPECT_NE(label.find((*playing)["title"].get<std::string>()), std::string::npos) << label;
    for (std::size_t k = 1; k < dab.size(); ++k) EXPECT_NE(dab[k], dab[k - 1]) << "only changes";
}

TEST_F(MQTTFeedE2ETest, ConnectsWhenTheBrokerAppearsLater) {
    auto cli = startCli({"--speed", "1", "adsb", "--seconds", "120"});
    // Running without a broker for a while; a crash would end it.
    EXPECT_FALSE(eventually([&] { return !cli->isRunning(); }, 3s)) << cli->output();
    auto broker = startBroker();
    auto sub = subscribe();
    EXPECT_TRUE(eventually([&] { return !messagesOn(*sub, "vantirel/test/adsb").empty(); }, 30s))
        << sub->output();
    EXPECT_TRUE(eventually(
        [&] { return sub->output().find("vantirel/test/status online") != std::string::npos; },
        5s));
    EXPECT_TRUE(cli->isRunning()) << cli->output();
}

}  // namespace
