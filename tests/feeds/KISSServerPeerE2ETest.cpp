// Our KISS server read by an independent KISS client: Dire Wolf's kissutil, run as a black box
// against `vantirel-cli aprs --wav FILE --kiss-port 0` decoding a recording of known packets.
// kissutil prints each frame it receives in the usual monitor form, SOURCE>DEST,PATH:INFO.
// Then the same server fed by the receiver itself on the simulated world.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "FeedTestSupport.h"
#include "aprs/APRSFrameParser.h"
#include "audio/AudioRecorder.h"
#include "sim/APRSEncoder.h"
#include "support/PeerPrograms.h"

namespace {

using namespace peer;

using namespace std::chrono_literals;

// kissutil with its output in a log file. Its standard input is a pipe held open: kissutil ends
// at the end of its input, and we only want it to listen.
class KissutilProcess {
public:
    KissutilProcess(const std::string& program, std::uint16_t port, const std::filesystem::path& log)
        : logPath(log) {
        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return;
        stdinWriter = input[1];
        std::vector<std::string> words{program, "-h", "127.0.0.1", "-p", std::to_string(port)};
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
    }
    ~KissutilProcess() {
        if (stdinWriter >= 0) ::close(stdinWriter);
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        for (int k = 0; k < 200; ++k) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
            std::this_thread::sleep_for(10ms);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    KissutilProcess(const KissutilProcess&) = delete;
    KissutilProcess& operator=(const KissutilProcess&) = delete;

    bool started() const { return pid > 0; }
    std::string output() const {
        std::ifstream in(logPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    pid_t pid = -1;
    int stdinWriter = -1;
    std::filesystem::path logPath;
};

struct KnownPacket {
    APRSFrameFields fields;
    std::string monitorLine;  // as a KISS client shows it
};

std::vector<KnownPacket> knownPackets() {
    const std::string awkwardText = std::string(":BLN1     :R") + '\xC0' + "ste " + '\xDB' + " Graz";
    const AX25Address wide1{.callsign = "WIDE1", .ssid = 1}, wide2{.callsign = "WIDE2", .ssid = 2};
    return {
        {{.source = {.callsign = "9A3RBS", .ssid = 9}, .path = {wide1, wide2},
          .information = "!4549.50N/01558.75E>Zagreb mobile"},
         "9A3RBS-9>APRS,WIDE1-1,WIDE2-2:!4549.50N/01558.75E>Zagreb mobile"},
        {{.source = {.callsign = "S55TX", .ssid = 0}, .destination = {.callsign = "APDR16"},
          .information = ">on the air"},
         "S55TX>APDR16:>on the air"},
        // Both bytes KISS escapes, inside the information field: kissutil must get them back.
        {{.source = {.callsign = "OE3XYZ", .ssid = 15}, .path = {wide1},
          .information = awkwardText},
         "OE3XYZ-15>APRS,WIDE1-1:" + awkwardText},
    };
}

// The packets at 48 kHz, a quarter second of silence around each, as a 16-bit mono WAV.
void writeRecording(const std::filesystem::path& path, const std::vector<KnownPacket>& packets) {
    constexpr double kRateHz = 48'000.0;
    AudioRecorder recorder(path, kRateHz, 1);
    const std::vector<float> silence(12'000, 0.0f);
    recorder.write(silence);
    for (const KnownPacket& p : packets) {
        recorder.write(APRSEncoder::encode(p.fields, {.sampleRateHz = kRateHz}));
        recorder.write(silence);
    }
    recorder.close();
}

}  // namespace

TEST(KISSServerPeerE2ETest, KissutilShowsEveryPacketTheCommandLineDecodes) {
    const auto kissutil = findProgram("kissutil");
    if (!kissutil) GTEST_SKIP() << "kissutil is not installed (apt install direwolf)";
    const std::filesystem::path cli = std::filesystem::path(VANTIREL_BINARY_DIR) / "tools" / "vantirel-cli";
    ASSERT_TRUE(std::filesystem::exists(cli)) << cli;

    TempFolder temp("vantirel-kiss");
    const auto packets = knownPackets();
    const auto wav = temp.path / "aprs.wav";
    writeRecording(wav, packets);

    // Port 0: the CLI reports the port it got on its first line, then waits for a client.
    const std::string command = cli.string() + " aprs --wav " + wav.string() +
                                " --kiss-port 0 --kiss-wait 20 --linger 2 2>&1";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buffer[4096];
    ASSERT_NE(std::fgets(buffer, sizeof buffer, out), nullptr);
    const nlohmann::json first = nlohmann::json::parse(buffer, nullptr, false);
    ASSERT_TRUE(first.contains("kiss")) << buffer;
    EXPECT_EQ(first["kiss"]["bindAddress"], "127.0.0.1");
    const std::uint16_t port = first["kiss"]["port"].get<std::uint16_t>();

    KissutilProcess peer(*kissutil, port, temp.path / "kissutil.log");
    ASSERT_TRUE(peer.started());
    int decoded = 0;
    while (std::fgets(buffer, sizeof buffer, out)) {
        const nlohmann::json line = nlohmann::json::parse(buffer, nullptr, false);
        if (line.contains("packet")) ++decoded;
    }
    EXPECT_EQ(pclose(out), 0);
    EXPECT_EQ(decoded, static_cast<int>(packets.size()));

    // The CLI has exited; kissutil has had the whole linger to print.
    std::string shown;
    for (int k = 0; k < 50; ++k) {
        shown = peer.output();
        if (shown.find(packets.back().monitorLine) != std::string::npos) break;
        std::this_thread::sleep_for(100ms);
    }
    SCOPED_TRACE("kissutil:\n" + shown);
    for (const KnownPacket& p : packets)
        EXPECT_NE(shown.find("[0] " + p.monitorLine + "\n"), std::string::npos) << p.monitorLine;
}

// The receiver path: the controller hands each packet to the server through its APRS listeners
// while the simulated world's stations transmit. Every packet the command line prints arrives as
// a KISS frame holding the same addresses and information field.
TEST(KISSServerPeerE2ETest, ReceiverServesEveryPacketItDecodes) {
    const std::filesystem::path cli = std::filesystem::path(VANTIREL_BINARY_DIR) / "tools" / "vantirel-cli";
    ASSERT_TRUE(std::filesystem::exists(cli)) << cli;
    const std::string command = cli.string() +
                                " --source sim --speed 4 --seconds 30 aprs --kiss-port 0 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buffer[8192];
    ASSERT_NE(std::fgets(buffer, sizeof buffer, out), nullptr);
    const nlohmann::json first = nlohmann::json::parse(buffer, nullptr, false);
    ASSERT_TRUE(first.contains("kiss")) << buffer;
    LoopbackClient client(first["kiss"]["port"].get<std::uint16_t>());
    ASSERT_TRUE(client.isConnected());

    std::multiset<std::string> printed;
    while (std::fgets(buffer, sizeof buffer, out)) {
        const nlohmann::json line = nlohmann::json::parse(buffer, nullptr, false);
        if (!line.contains("packet")) continue;
        const auto& p = line["packet"];
        printed.insert(p["sourceCallsign"].get<std::string>() + ">" + p["destCallsign"].get<std::string>() +
                       ":" + p["informationField"].get<std::string>());
    }
    EXPECT_EQ(pclose(out), 0);
    ASSERT_FALSE(printed.empty()) << "the demo stations send every 20 s or so";

    // The CLI has exited and closed the connection: everything it sent is here.
    const std::string stream = client.receive(1 << 20, 2s);
    std::multiset<std::string> served;
    std::size_t start = 0;
    while ((start = stream.find('\xC0', start)) != std::string::npos) {
        const std::size_t end = stream.find('\xC0', start + 1);
        if (end == std::string::npos) break;
        std::vector<std::uint8_t> frame;
        bool escaped = false;
        for (std::size_t k = start + 2; k < end; ++k) {
            auto b = static_cast<std::uint8_t>(stream[k]);
            if (escaped) frame.push_back(b == 0xDC ? 0xC0 : 0xDB);
            else if (b != 0xDB) frame.push_back(b);
            escaped = !escaped && b == 0xDB;
        }
        EXPECT_EQ(stream[start + 1], '\0') << "port 0, data";
        frame.insert(frame.end(), {0, 0});  // the parser skips an FCS it does not check
        if (const auto p = parseAX25Frame(frame))
            served.insert(p->sourceCallsign + ">" + p->destCallsign + ":" + p->informationField);
        start = end + 1;
    }
    EXPECT_EQ(served, printed);
}
