// The window remembers its settings: what the user changed in one run is there in the next,
// and a damaged settings file is kept aside and reported rather than lost or fatal.
#include <gtest/gtest.h>

#include "WindowTestSupport.h"
#include "support/PeerPrograms.h"

using namespace windowtest;

namespace {

struct SettingsRun {
    std::filesystem::path documents;
    std::filesystem::path config;
    std::filesystem::path statePath;
};

SettingsRun prepare(const std::string& name) {
    const auto documents = scratchFolder(name);
    writeBookmarks(documents);
    return {.documents = documents, .config = documents / "config", .statePath = documents / "state.json"};
}

std::unique_ptr<ChildProcess> startWindow(const SettingsRun& run, const VirtualScreen& screen,
                                          const std::vector<std::string>& extraArgs = {}) {
    std::filesystem::remove(run.statePath);
    std::vector<std::string> argv = {vantirelBinary().string(), "--source", "sim", "--no-audio", "--no-autostart",
                                     "--documents", run.documents.string(), "--tile-url", "none",
                                     "--state-file", run.statePath.string()};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    return std::make_unique<ChildProcess>(
        argv, std::vector<std::string>{"DISPLAY=" + screen.name(), "XDG_CONFIG_HOME=" + run.config.string(),
                                       "XDG_CACHE_HOME=" + (run.documents / "cache").string()});
}

std::filesystem::path settingsFile(const SettingsRun& run) {
    return run.config / "vantirel" / "settings.json";
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One command line to a line-based server on the loopback, and its first reply line.
std::string askLine(std::uint16_t port, const std::string& line) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(port);
    std::string reply;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 &&
        ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
        char c = 0;
        while (::read(fd, &c, 1) == 1 && c != '\n') reply += c;
    }
    ::close(fd);
    return reply;
}

}  // namespace

TEST(WindowSettingsE2ETest, ChangesSurviveAQuitAndAreBackNextRun) {
    const SettingsRun run = prepare("settings");
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";

    double volume = 0.0;
    {
        auto window = startWindow(run, screen);
        ASSERT_TRUE(window->started());
        Session session(screen, run.statePath);
        ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["isRunning"] == false; }));
        ASSERT_TRUE(session.findWindow());
        EXPECT_FALSE(std::filesystem::exists(settingsFile(run))) << "nothing changed yet, nothing to write";

        ASSERT_TRUE(session.click("step +100"));
        ASSERT_TRUE(session.click("filter NB"));
        ASSERT_TRUE(session.clickAt("volume", 0.85));
        ASSERT_TRUE(session.click("section Stations"));
        ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) {
            return std::abs(j["controller"]["frequencyMHz"].get<double>() - 92.2) < 1e-6 &&
                   j["controller"]["nbEnabled"] == true && j["controller"]["audioVolume"].get<double>() > 0.6 &&
                   j["view"]["sidebarSection"] == "Stations";
        })) << session.current()["controller"].dump();
        volume = session.current()["controller"]["audioVolume"].get<double>();

        // Written while the window runs, so a crash would lose little.
        EXPECT_TRUE(eventually([&] {
            const auto saved = readState(settingsFile(run));
            return saved && (*saved)["window"]["sidebarSection"] == "Stations" &&
                   (*saved)["radio"]["nbEnabled"] == true;
        })) << readText(settingsFile(run));

        // A change right before quitting is written on the way out.
        ASSERT_TRUE(session.click("filter NR"));
        ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["nrEnabled"] == true; }));
        window->stop();  // SIGTERM: the window closes as from its close button
    }
    const auto saved = readState(settingsFile(run));
    ASSERT_TRUE(saved) << "quitting must leave a readable settings file";
    EXPECT_EQ((*saved)["radio"]["nrEnabled"], true);
    // The save went through a temporary file that is gone now.
    for (const auto& entry : std::filesystem::directory_iterator(settingsFile(run).parent_path()))
        EXPECT_EQ(entry.path().filename(), "settings.json");

    auto window = startWindow(run, screen);
    ASSERT_TRUE(window->started());
    Session session(screen, run.statePath);
    EXPECT_TRUE(session.waitFor([&](const nlohmann::json& j) {
        return std::abs(j["controller"]["frequencyMHz"].get<double>() - 92.2) < 1e-6 &&
               j["view"]["frequencyText"] == "92.20" && j["controller"]["nbEnabled"] == true &&
               j["controller"]["nrEnabled"] == true && j["controller"]["audioVolume"].get<double>() == volume &&
               j["view"]["sidebarSection"] == "Stations" && j["view"]["settingsNotice"].is_null();
    })) << session.current()["controller"].dump() << session.current()["view"].dump();
    window->stop();

    // The command line overrides the file for its run and does not overwrite it.
    auto overridden = startWindow(run, screen, {"--section", "Scanner"});
    Session third(screen, run.statePath);
    EXPECT_TRUE(third.waitFor([](const nlohmann::json& j) { return j["view"]["sidebarSection"] == "Scanner"; }));
    overridden->stop();
    EXPECT_EQ((*readState(settingsFile(run)))["window"]["sidebarSection"], "Stations");
    std::filesystem::remove_all(run.documents);
}

TEST(WindowSettingsE2ETest, DamagedFileIsKeptAsideAndReported) {
    const SettingsRun run = prepare("settings-damaged");
    const std::string damaged = R"({"radio": {"frequencyMHz": 93.4, "audioVolume": "loud"}})";
    std::filesystem::create_directories(settingsFile(run).parent_path());
    std::ofstream(settingsFile(run)) << damaged;
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";
    auto window = startWindow(run, screen, {"--popover", "settings"});
    ASSERT_TRUE(window->started());
    Session session(screen, run.statePath);
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        const auto& notice = j["view"]["settingsNotice"];
        return notice.is_string() && notice.get<std::string>().find("damaged") != std::string::npos &&
               j["controller"]["statusText"] == notice && j["controls"].contains("settingsNotice");
    })) << session.current()["view"]["settingsNotice"];
    // Defaults are in use: the damaged file's frequency is not taken half-read.
    EXPECT_DOUBLE_EQ(session.current()["controller"]["frequencyMHz"].get<double>(), 92.1);
    window->stop();

    std::vector<std::filesystem::path> kept;
    for (const auto& entry : std::filesystem::directory_iterator(settingsFile(run).parent_path()))
        if (entry.path().filename().string().rfind("settings.json.damaged-", 0) == 0) kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readText(kept.front()), damaged) << "the damaged file must be kept byte for byte";
    EXPECT_NE(session.current()["view"]["settingsNotice"].get<std::string>().find(kept.front().filename().string()),
              std::string::npos)
        << "the notice names where the file went";
    std::filesystem::remove_all(run.documents);
}

// Feeds switched on in the settings start with the window: rig control answers and retunes it.
TEST(WindowSettingsE2ETest, FeedsFromTheSettingsStartWithTheWindow) {
    const SettingsRun run = prepare("settings-feeds");
    const std::uint16_t rigctlPort = peer::freeLoopbackPort();
    std::filesystem::create_directories(settingsFile(run).parent_path());
    std::ofstream(settingsFile(run)) << nlohmann::json{
        {"feeds", {{"rigctl", {{"enabled", true}, {"port", rigctlPort}}}}}}.dump();
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";
    auto window = startWindow(run, screen);
    ASSERT_TRUE(window->started());
    Session session(screen, run.statePath);
    ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["settingsNotice"].is_null(); }));
    std::string frequency;
    EXPECT_TRUE(eventually([&] { return (frequency = askLine(rigctlPort, "f\n")) == "92100000"; })) << frequency;
    EXPECT_EQ(askLine(rigctlPort, "F 95700000\n"), "RPRT 0");
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return std::abs(j["controller"]["frequencyMHz"].get<double>() - 95.7) < 1e-6;
    }));
    window->stop();
    std::filesystem::remove_all(run.documents);
}
