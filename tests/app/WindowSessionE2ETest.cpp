// A scripted session: xdotool drives the real window on the simulated dongle, and after each
// step the state file must show the controller where the step put it.
#include <gtest/gtest.h>

#include "WindowTestSupport.h"

using namespace windowtest;

namespace {

class Session {
public:
    Session(const VirtualScreen& screen, std::filesystem::path statePath)
        : display(screen.name()), state(std::move(statePath)) {}

    // The newest state, once the file exists.
    nlohmann::json current() const { return readState(state).value_or(nlohmann::json::object()); }

    bool waitFor(const std::function<bool(const nlohmann::json&)>& condition) const {
        return eventually([&] {
            const nlohmann::json j = current();
            return j.contains("controller") && condition(j);
        });
    }

    // Clicks the middle of a named control where the window last drew it.
    bool click(const std::string& control) const {
        std::optional<Rect> r;
        if (!eventually([&] { return (r = controlRect(current(), control)).has_value(); })) return false;
        const int x = r->x + r->width / 2, y = r->y + r->height / 2;
        return xdotool("mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
                       " sleep 0.15 click 1 sleep 0.1");
    }

    // Held for a few frames: the window samples the keyboard once per frame.
    bool key(const std::string& name) const { return xdotool("keydown " + name + " sleep 0.15 keyup " + name); }

    bool findWindow() {
        const std::string command = "DISPLAY=" + display + " xdotool search --sync --onlyvisible --name '^Vantirel$' 2>/dev/null";
        for (int attempt = 0; attempt < 3 && window.empty(); ++attempt) {
            FILE* pipe = ::popen(command.c_str(), "r");
            if (pipe == nullptr) return false;
            char line[64] = {0};
            if (std::fgets(line, sizeof line, pipe) != nullptr) window = std::to_string(std::strtoul(line, nullptr, 10));
            ::pclose(pipe);
        }
        return !window.empty() && window != "0";
    }

private:
    bool xdotool(const std::string& arguments) const {
        return std::system(("DISPLAY=" + display + " xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
    }

    std::string display;
    std::filesystem::path state;
    std::string window;
};

double frequency(const nlohmann::json& j) {
    return j["controller"]["frequencyMHz"].get<double>();
}

}  // namespace

TEST(WindowSessionE2ETest, XdotoolDrivesTheReceiver) {
    const auto documents = scratchFolder("session");
    writeBookmarks(documents);
    const auto statePath = documents / "state.json";
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";
    ChildProcess window({vantirelBinary().string(), "--source", "sim", "--no-audio", "--no-autostart", "--documents",
                         documents.string(), "--tile-url", "none", "--state-file", statePath.string()},
                        {"DISPLAY=" + screen.name(), "XDG_CACHE_HOME=" + (documents / "cache").string()});
    ASSERT_TRUE(window.started());
    Session session(screen, statePath);
    ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["isRunning"] == false; }));
    ASSERT_TRUE(session.findWindow());

    // 1. Start the receiver.
    ASSERT_TRUE(session.click("startStop"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["controller"]["isRunning"] == true && j["controller"]["statusText"] == "Sluša 92.1000 MHz";
    })) << session.current()["controller"].dump();

    // 2. "+100" on the tuner: 100 kHz up, the field follows.
    ASSERT_TRUE(session.click("step +100"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return std::abs(frequency(j) - 92.2) < 1e-6 && j["view"]["frequencyText"] == "92.20";
    })) << frequency(session.current());

    // 3. Select a saved station in the Stations section.
    ASSERT_TRUE(session.click("section Stations"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["sidebarSection"] == "Stations"; }));
    ASSERT_TRUE(session.click("station RIVA"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return std::abs(frequency(j) - 93.4) < 1e-6 && j["controller"]["selectedStationID"] == kRivaID;
    })) << session.current()["controller"]["selectedStationID"];

    // 4. Stereo, from the audio popover.
    ASSERT_TRUE(session.click("audioButton"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["showAudioPanel"] == true; }));
    ASSERT_TRUE(session.click("audioStereo"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["stereoEnabled"] == true; }));
    // RIVA broadcasts in stereo: the pilot is found and the tuner shows "STEREO".
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["stereoDetected"] == true; }));
    ASSERT_TRUE(session.key("Escape"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["showAudioPanel"] == false; }));

    // 5. ADS-B on: 1090 MHz and the map in the centre; off again: back on the station.
    ASSERT_TRUE(session.click("section Decoders"));
    ASSERT_TRUE(session.click("adsbSwitch"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["controller"]["adsbEnabled"] == true && frequency(j) == 1090.0 && j["view"]["centreView"] == "adsb";
    }));
    ASSERT_TRUE(session.click("adsbSwitch"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["controller"]["adsbEnabled"] == false && std::abs(frequency(j) - 93.4) < 1e-6 &&
               j["view"]["centreView"] == "analog";
    })) << frequency(session.current());
    // The receiver ran throughout and stereo is still wanted.
    const nlohmann::json last = session.current();
    EXPECT_EQ(last["controller"]["isRunning"], true);
    EXPECT_EQ(last["controller"]["stereoEnabled"], true);
    window.stop();
    std::filesystem::remove_all(documents);
}
