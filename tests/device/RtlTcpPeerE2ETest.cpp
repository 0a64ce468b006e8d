// rtl_433 (an independent rtl_tcp client, run as a black box) reads our server: its commands
// reach the dongle and it takes samples until its own timer ends it.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "../sim/SimPeerTools.h"
#include "RtlTcpTestSupport.h"

namespace {

using namespace rtltcptest;
using rtltcp::Command;

// Runs a shell command; its exit status and what it printed on both streams.
std::pair<int, std::string> runCapturing(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {-1, output};
    char chunk[4096];
    while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(RtlTcpPeerE2ETest, Rtl433ReadsOurServer) {
    const auto rtl433 = simtest::findProgram("rtl_433");
    if (!rtl433) GTEST_SKIP() << "rtl_433 is not installed (apt install rtl-433)";
    ServedDongle served;
    const std::string port = std::to_string(served.server->port());
    // -T 3: three seconds of samples, then a normal exit.
    const auto [status, output] = runCapturing(rtl433->string() + " -d rtl_tcp:127.0.0.1:" + port +
                                               " -f 433.92M -s 250k -T 3 -F json");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("rtl_tcp connected to 127.0.0.1:" + port + " (Tuner: R828D)"), std::string::npos)
        << output;
    EXPECT_NE(output.find("Time expired"), std::string::npos) << output;
    EXPECT_EQ(output.find("rror"), std::string::npos) << output;

    EXPECT_EQ(served.commands->count(Command::sampleRate, 250'000), 1u);
    EXPECT_EQ(served.commands->count(Command::centerFrequency, 433'920'000), 1u);
    EXPECT_EQ(served.dongle->centerFrequencyHz(), 433'920'000u);
    EXPECT_EQ(served.dongle->sampleRateHz(), 250'000u);
    // At least two of its three seconds went out: 250,000 samples/s of two bytes.
    EXPECT_GT(served.server->bytesSent(), 2u * 2 * 250'000);
    EXPECT_EQ(served.server->bytesDropped(), 0u);
}

}  // namespace
