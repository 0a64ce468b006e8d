// The real controller on a network dongle: the simulated world served over rtl_tcp on the
// loopback, read by RtlTcpApi, demodulated, and the demo station's RDS name published.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "RtlTcpTestSupport.h"
#include "audio/NullAudioSink.h"
#include "control/ControllerJSON.h"
#include "control/SDRController.h"
#include "sim/DemoScene.h"

namespace {

using namespace rtltcptest;

constexpr double kSpeed = 2.0;

struct NetworkReceiver {
    NetworkReceiver() : served(makeDemoScene(), kSpeed) {
        std::random_device rd;
        documents = std::filesystem::temp_directory_path() / ("vantirel-rtltcp-" + std::to_string(rd()));
        std::filesystem::create_directories(documents);
        auto dongle = std::make_shared<RtlTcpApi>(RtlTcpApiConfig{.address = served.address()});
        ControllerDeps deps;
        deps.dongle = [dongle] { return dongle; };
        deps.audio = [](double rate) -> std::unique_ptr<AudioSink> {
            return std::make_unique<NullAudioSink>(NullAudioSinkConfig{.sampleRateHz = rate, .speedFactor = kSpeed});
        };
        deps.mainQueue = queue;
        deps.documentsDir = documents;
        controller = SDRController::create(std::move(deps));
    }
    ~NetworkReceiver() {
        controller.reset();
        std::filesystem::remove_all(documents);
    }
    // Pumps until `done` or `signalSeconds` of what the served dongle rendered.
    bool waitFor(const std::function<bool()>& done, double signalSeconds) {
        const VirtualRtlSdr& d = *served.dongle;
        const auto target = d.sampleIndex() + static_cast<std::uint64_t>(signalSeconds * 2'048'000);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        bool held = false;
        queue->runUntil([&] {
            held = done();
            return held || d.sampleIndex() >= target || std::chrono::steady_clock::now() > giveUp;
        }, std::chrono::hours(1));
        return held;
    }

    ServedDongle served;
    std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
    std::filesystem::path documents;
    std::shared_ptr<SDRController> controller;
};

TEST(RtlTcpReceiverE2ETest, PublishesTheDemoStationsNameOverTheNetwork) {
    NetworkReceiver rx;
    SDRController& c = *rx.controller;
    c.tune(kDemoStartFrequencyHz / 1e6, true);
    c.start();
    ASSERT_TRUE(c.isRunning) << controllerStatusJSON(c).dump();
    ASSERT_TRUE(rx.waitFor([&] { return c.rdsStationName == "VANTIREL"; }, 15.0))
        << controllerStatusJSON(c).dump();
    EXPECT_EQ(rx.served.server->clientsServed(), 1u);
    EXPECT_GT(rx.served.server->bytesSent(), 0u);
    // The controller tunes near the station (it may sit off centre to dodge the DC spike).
    EXPECT_NEAR(rx.served.dongle->centerFrequencyHz(), kDemoStartFrequencyHz, 500'000.0);
    c.stop();
}

// A network dongle that cannot be reached: the receiver stays off and says why.
TEST(RtlTcpReceiverE2ETest, SaysWhyTheNetworkDongleCannotBeReached) {
    NetworkReceiver rx;
    rx.served.server->stop();
    SDRController& c = *rx.controller;
    c.start();
    EXPECT_FALSE(c.isRunning);
    EXPECT_NE(c.statusText.find("cannot connect to " + rx.served.address().host), std::string::npos) << c.statusText;
}

}  // namespace
