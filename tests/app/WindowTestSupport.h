#pragma once

// Helpers for the window tests: run the real `vantirel` under Xvfb, read its state file and
// its screenshots, and look at pixels. The PNGs stay in the build folder as artefacts.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <spawn.h>
#include <stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace windowtest {

inline std::filesystem::path vantirelBinary() {
    return std::filesystem::path(VANTIREL_BINARY_DIR) / "app" / "vantirel";
}

inline std::filesystem::path artefactFolder() {
    const auto folder = std::filesystem::path(VANTIREL_BINARY_DIR) / "tests" / "app" / "window-artefacts";
    std::filesystem::create_directories(folder);
    return folder;
}

inline std::filesystem::path scratchFolder(const std::string& name) {
    const auto folder = std::filesystem::temp_directory_path() / ("vantirel-window-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// Every window a test starts remembers its settings under a scratch $XDG_CONFIG_HOME that is
// emptied before each test, so no test sees another's (or the developer's) settings.
class ScratchConfigHome : public ::testing::EmptyTestEventListener {
public:
    ScratchConfigHome() : folder(std::filesystem::temp_directory_path() / ("vantirel-config-" + std::to_string(::getpid()))) {
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    }
    ~ScratchConfigHome() override {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    void OnTestStart(const ::testing::TestInfo&) override {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

private:
    std::filesystem::path folder;
};

inline const bool kScratchConfigHomeInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ScratchConfigHome);  // gtest owns it
    return true;
}();

// Saved stations the tests select: ids are fixed so the state file can be checked.
inline constexpr const char* kRivaID = "22222222-2222-4222-8222-222222222222";
inline void writeBookmarks(const std::filesystem::path& documents) {
    std::ofstream out(documents / "OrvelleBookmarks.json");
    out << R"([{"id":"11111111-1111-4111-8111-111111111111","name":"VANTIREL","frequencyMHz":92.1,"isFavorite":true},)"
        << R"({"id":"22222222-2222-4222-8222-222222222222","name":"RIVA","frequencyMHz":93.4,"isFavorite":false},)"
        << R"({"id":"33333333-3333-4333-8333-333333333333","name":"Tower","frequencyMHz":118.3,"isFavorite":true}])";
}

inline std::string shellQuote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs the window to completion under its own Xvfb screen; returns the exit status.
inline int runWindow(const std::vector<std::string>& args, const std::vector<std::string>& environment = {}) {
    std::string command;
    for (const std::string& e : environment) command += e + " ";
    command += "xvfb-run -a -s \"-screen 0 1600x1000x24\" " + shellQuote(vantirelBinary().string());
    for (const std::string& a : args) command += " " + shellQuote(a);
    command += " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::optional<nlohmann::json> readState(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
    if (j.is_discarded()) return std::nullopt;
    return j;
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

inline std::optional<Rect> controlRect(const nlohmann::json& state, const std::string& name) {
    const auto& controls = state["controls"];
    if (!controls.contains(name)) return std::nullopt;
    const auto& r = controls[name];
    return Rect{static_cast<int>(r["x"].get<double>()), static_cast<int>(r["y"].get<double>()),
                static_cast<int>(r["width"].get<double>()), static_cast<int>(r["height"].get<double>())};
}

struct RGB {
    int r = 0, g = 0, b = 0;
};

class Image {
public:
    explicit Image(const std::filesystem::path& path) {
        int channels = 0;
        unsigned char* data = stbi_load(path.c_str(), &w, &h, &channels, 3);
        if (data != nullptr) {
            pixels.assign(data, data + static_cast<std::size_t>(w) * h * 3);
            stbi_image_free(data);
        }
    }
    bool loaded() const { return !pixels.empty(); }
    int width() const { return w; }
    int height() const { return h; }
    RGB at(int x, int y) const {
        const unsigned char* p = &pixels[(static_cast<std::size_t>(y) * w + x) * 3];
        return {p[0], p[1], p[2]};
    }
    // Pixels inside the rectangle (clipped to the picture) that satisfy `test`.
    int count(const Rect& r, const std::function<bool(RGB)>& test) const {
        int n = 0;
        for (int y = std::max(0, r.y); y < std::min(h, r.y + r.height); ++y)
            for (int x = std::max(0, r.x); x < std::min(w, r.x + r.width); ++x)
                if (test(at(x, y))) ++n;
        return n;
    }
    // Distinct colours after dropping the low 3 bits of each channel.
    std::size_t distinctColours(const Rect& r) const {
        std::set<int> seen;
        count(r, [&](RGB c) {
            seen.insert(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
            return false;
        });
        return seen.size();
    }
    Rect whole() const { return {0, 0, w, h}; }

private:
    int w = 0, h = 0;
    std::vector<unsigned char> pixels;
};

inline bool near(RGB c, RGB target, int tolerance) {
    return std::abs(c.r - target.r) <= tolerance && std::abs(c.g - target.g) <= tolerance &&
           std::abs(c.b - target.b) <= tolerance;
}

// Light pixels: text on the dark theme.
inline bool isText(RGB c) {
    return c.r > 170 && c.g > 170 && c.b > 170;
}

// Polls until `done` holds; the deadline only guards against a hang.
inline bool eventually(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// A process the test started, ended (by its own id) when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnvironment,
                 posix_spawn_file_actions_t* actions = nullptr) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<std::string> envStrings(extraEnvironment);
        for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
        std::vector<char*> env;
        for (std::string& e : envStrings) env.push_back(e.data());
        env.push_back(nullptr);
        if (posix_spawnp(&pid, argv[0].c_str(), actions, nullptr, args.data(), env.data()) != 0) pid = -1;
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid > 0; }
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
};

// An Xvfb screen for a scripted session; the display number comes from Xvfb itself.
class VirtualScreen {
public:
    VirtualScreen() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // Close the read end first: it may itself be descriptor 3.
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        server.emplace(std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"},
                       std::vector<std::string>{}, &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (!number.empty()) display = ":" + number;
    }
    bool ready() const { return server && server->started() && !display.empty(); }
    const std::string& name() const { return display; }

private:
    std::optional<ChildProcess> server;
    std::string display;
};

// A scripted session on a running window: reads its state file and drives it with xdotool.
class Session {
public:
    Session(const VirtualScreen& screen, std::filesystem::path statePath)
        : display(screen.name()), state(std::move(statePath)) {}

    // The newest state, once the file exists.
    nlohmann::json current() const { return readState(state).value_or(nlohmann::json::object()); }

    bool waitFor(const std::function<bool(const nlohmann::json&)>& condition,
                 std::chrono::seconds limit = std::chrono::seconds(20)) const {
        return eventually(
            [&] {
                const nlohmann::json j = current();
                return j.contains("controller") && condition(j);
            },
            limit);
    }

    // Clicks the middle of a named control where the window last drew it.
    bool click(const std::string& control) const { return clickAt(control, 0.5); }

    // Clicks a named control at a fraction of its width, halfway down.
    bool clickAt(const std::string& control, double fraction) const {
        const std::optional<std::pair<int, int>> p = placeOf(control, fraction);
        return p && xdotool("mousemove --window " + window + " " + std::to_string(p->first) + " " +
                            std::to_string(p->second) + " sleep 0.15 click 1 sleep 0.1");
    }

    // One wheel notch up over the middle of a named control.
    bool scrollUp(const std::string& control) const {
        const std::optional<std::pair<int, int>> p = placeOf(control, 0.5);
        return p && xdotool("mousemove --window " + window + " " + std::to_string(p->first) + " " +
                            std::to_string(p->second) + " sleep 0.15 click 4 sleep 0.1");
    }

    // Presses `button` in the middle of a control, moves by (dx, dy) in steps, and lets go.
    bool drag(const std::string& control, int button, int dx, int dy) const {
        const std::optional<std::pair<int, int>> p = placeOf(control, 0.5);
        if (!p) return false;
        std::string steps;
        for (int k = 0; k < 6; ++k)
            steps += " mousemove_relative -- " + std::to_string(dx / 6) + " " + std::to_string(dy / 6) + " sleep 0.05";
        const std::string b = std::to_string(button);
        return xdotool("mousemove --window " + window + " " + std::to_string(p->first) + " " + std::to_string(p->second) +
                       " sleep 0.15 mousedown " + b + " sleep 0.15" + steps + " sleep 0.15 mouseup " + b + " sleep 0.1");
    }

    // Where to point at a control: `fraction` across, halfway down.
    std::optional<std::pair<int, int>> placeOf(const std::string& control, double fraction) const {
        // Where it was drawn in two successive looks, so a control still moving is not hit.
        std::optional<Rect> r;
        const bool settled = eventually([&] {
            const std::optional<Rect> first = controlRect(current(), control);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            r = controlRect(current(), control);
            return first && r && first->x == r->x && first->y == r->y;
        });
        if (!settled) return std::nullopt;
        return std::pair(r->x + static_cast<int>(r->width * fraction), r->y + r->height / 2);
    }

    // The whole screen as a PNG (ImageMagick's import), kept as a test artefact.
    bool screenshot(const std::filesystem::path& png) const {
        std::filesystem::remove(png);
        return std::system(("DISPLAY=" + display + " import -window root " + png.string() + " >/dev/null 2>&1").c_str()) == 0 &&
               std::filesystem::exists(png);
    }

    // Held for a few frames: the window samples the keyboard once per frame.
    bool key(const std::string& name) const { return xdotool("keydown " + name + " sleep 0.4 keyup " + name); }
    // Typed slowly enough that every character lands in its own frame.
    bool type(const std::string& text) const { return xdotool("type --delay 80 " + shellQuote(text)); }

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

}  // namespace windowtest
