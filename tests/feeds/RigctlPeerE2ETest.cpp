// The command line's rig control read and driven by hamlib's own client, rigctl -m 2 (NET
// rigctl), run as a black box against vantirel-cli on the simulated dongle. What rigctl sets
// must show in the receiver's own status lines, not only in what the server answers back.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/PeerPrograms.h"

namespace {

using namespace peer;

using namespace std::chrono_literals;

struct ProgramRun {
    int status = -1;
    std::string output;
};

// Standard output of a shell command, with its exit status.
ProgramRun capture(const std::string& command) {
    ProgramRun run;
    FILE* out = popen(command.c_str(), "r");
    if (!out) return run;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, out)) run.output += buffer;
    const int status = pclose(out);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(RigctlPeerE2ETest, RigctlRetunesAndSwitchesModeOfTheRunningReceiver) {
    const std::optional<std::string> rigctl = findProgram("rigctl");
    if (!rigctl) GTEST_SKIP() << "rigctl is not installed (package libhamlib-utils)";
    const std::filesystem::path cli = std::filesystem::path(VANTIREL_BINARY_DIR) / "tools" / "vantirel-cli";
    ASSERT_TRUE(std::filesystem::exists(cli)) << cli;

    const std::uint16_t port = freeLoopbackPort();
    const std::string receiver = cli.string() + " --source sim --speed 2 --seconds 16 --rigctl-port " +
                                 std::to_string(port) + " status --mhz 92.1 2>/dev/null";
    FILE* status = popen(receiver.c_str(), "r");
    ASSERT_NE(status, nullptr);
    const std::string peer = *rigctl + " -m 2 -r 127.0.0.1:" + std::to_string(port) + " ";

    // The server opens before the radio starts; give the process a moment to get there.
    ProgramRun first;
    for (int attempt = 0; attempt < 50 && first.status != 0; ++attempt) {
        std::this_thread::sleep_for(100ms);
        first = capture(peer + "f 2>/dev/null");
    }
    EXPECT_EQ(first.status, 0) << "rigctl never connected";
    EXPECT_EQ(first.output, "92100000\n");

    EXPECT_EQ(capture(peer + "F 95700000").status, 0);
    EXPECT_EQ(capture(peer + "f").output, "95700000\n");
    EXPECT_EQ(capture(peer + "M FM 12500").status, 0);
    EXPECT_EQ(capture(peer + "m").output, "FM\n12500\n");
    // A few signal seconds on 95.7 MHz for the level to settle, then the S-meter.
    std::this_thread::sleep_for(1500ms);
    const ProgramRun strength = capture(peer + "l STRENGTH");
    EXPECT_EQ(strength.status, 0);
    int strengthDB = -999;
    std::istringstream(strength.output) >> strengthDB;
    EXPECT_GE(strengthDB, -54) << strength.output;
    EXPECT_LE(strengthDB, 60) << strength.output;

    // The receiver's own account: retuned, narrow FM, and the level rigctl saw.
    std::optional<nlohmann::json> last;
    char buffer[16384];
    while (std::fgets(buffer, sizeof buffer, status)) {
        const nlohmann::json j = nlohmann::json::parse(buffer, nullptr, false);
        if (j.is_object() && j.contains("frequencyMHz")) last = j;
    }
    EXPECT_EQ(pclose(status), 0);
    ASSERT_TRUE(last.has_value()) << "no status lines";
    EXPECT_DOUBLE_EQ((*last)["frequencyMHz"].get<double>(), 95.7);
    EXPECT_EQ((*last)["statusText"], "Sluša 95.7000 MHz");
    EXPECT_EQ((*last)["mode"], "FM");
    EXPECT_TRUE((*last)["isNarrowbandFM"].get<bool>());
    // Dongle gain and noise move the level by a few dB from second to second.
    const double levelDBFS = (*last)["channelLevelDB"].get<double>();
    EXPECT_NEAR(strengthDB, levelDBFS + 30.0, 8.0) << "S9 sits at -30 dBFS";
}

}  // namespace
