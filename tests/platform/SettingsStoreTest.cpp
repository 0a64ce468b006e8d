#include "platform/SettingsStore.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/SettingsAutosave.h"

namespace {

namespace fs = std::filesystem;

// Every field away from its default, so a field the file forgets shows up in the round trip.
ReceiverSettings everyFieldChanged() {
    return ReceiverSettings{
        .frequencyMHz = 118.3,
        .mode = DemodMode::am,
        .narrowbandFM = true,
        .stereoEnabled = true,
        .agcEnabled = false,
        .manualGainTenthsDB = 197.0,
        .frequencyCorrectionPPM = -23,
        .audioVolume = 0.8,
        .audioBalance = -0.25,
        .squelchEnabled = true,
        .squelchThresholdDB = -61.5,
        .nbEnabled = true,
        .nbThreshold = 6.5,
        .nrEnabled = true,
        .nrAmount = 0.75,
        .notchEnabled = true,
        .notchFrequencyHz = 1750.0,
        .rdsEnabled = false,
        .spectrumSpanMHz = 1.536,
        .sidebarSection = "Stations",
        .mapView = MapViewSettings{.centerLatitudeDeg = 52.2572, .centerLongitudeDeg = 3.9194, .zoom = 10.5},
        .dongle = {.index = 2, .serial = "00000102"},
        .networkDongleAddress = "rtltcp://192.0.2.7:1234",
        .audioOutputDevice = "USB Audio: PCM (hw:1,0)",
        .mapTileURL = "http://127.0.0.1:8080/{z}/{x}/{y}.png",
        .feeds = {.adsbSBS = {.enabled = true, .port = 31003},
                  .adsbBeast = {.enabled = true, .port = 31005},
                  .adsbJSONEnabled = true,
                  .adsbJSONDir = "/srv/aircraft",
                  .aprsKISS = {.enabled = true, .port = 8101},
                  .rigctl = {.enabled = true, .port = 4632},
                  .mqttEnabled = true,
                  .mqttHost = "broker.example",
                  .mqttPort = 8883,
                  .mqttReceiverName = "rooftop"},
    };
}

// Leaves of `a` whose value is the same in `b`, by their JSON path.
void collectUnchanged(const nlohmann::json& a, const nlohmann::json& b, const std::string& path,
                      std::vector<std::string>& out) {
    if (a.is_object()) {
        for (const auto& [key, value] : a.items())
            collectUnchanged(value, b.contains(key) ? b[key] : nlohmann::json(), path + "/" + key, out);
    } else if (a == b && path != "/version") {
        out.push_back(path);
    }
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeAll(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct SettingsStoreFixture : ::testing::Test {
    fs::path folder = fs::temp_directory_path() / ("vantirel-settings-test-" + std::to_string(::getpid()));
    fs::path file = folder / "vantirel" / "settings.json";
    void SetUp() override { fs::remove_all(folder); }
    void TearDown() override { fs::remove_all(folder); }
    std::vector<fs::path> filesIn(const fs::path& dir) const {
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
        return names;
    }
};

}  // namespace

TEST_F(SettingsStoreFixture, SaveAndLoadKeepEveryField) {
    const ReceiverSettings saved = everyFieldChanged();
    std::vector<std::string> unchanged;
    collectUnchanged(SettingsStore::toJSON(saved), SettingsStore::toJSON(ReceiverSettings{}), "", unchanged);
    ASSERT_TRUE(unchanged.empty()) << "the test record leaves " << unchanged.front() << " at its default";

    SettingsStore store(file);
    std::string error;
    ASSERT_TRUE(store.save(saved, &error)) << error;
    const SettingsLoadResult loaded = SettingsStore(file).load();
    EXPECT_EQ(loaded.status, SettingsLoadResult::Status::loaded);
    EXPECT_EQ(loaded.settings, saved);
    // Saving leaves only the file: the temporary one was renamed over it.
    ASSERT_TRUE(store.save(ReceiverSettings{}, &error)) << error;
    EXPECT_EQ(filesIn(file.parent_path()), std::vector<fs::path>{"settings.json"});
    EXPECT_EQ(SettingsStore(file).load().settings, ReceiverSettings{});
}

TEST_F(SettingsStoreFixture, NoFileGivesDefaultsAndWritesNothing) {
    const SettingsLoadResult loaded = SettingsStore(file).load();
    EXPECT_EQ(loaded.status, SettingsLoadResult::Status::missing);
    EXPECT_EQ(loaded.settings, ReceiverSettings{});
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(SettingsStoreFixture, DamagedFileIsKeptAsideAndDefaultsAreUsed) {
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"cut off mid-write", R"({"radio": {"frequencyMHz": 93.4, "mo)"},
        {"empty", ""},
        {"text for a number", R"({"radio": {"audioVolume": "loud"}})"},
        {"number for a switch", R"({"radio": {"rdsEnabled": 1}})"},
        {"a fraction for a port", R"({"feeds": {"rigctl": {"port": 4532.5}}})"},
        {"a group that is not one", R"({"feeds": 7})"},
        {"not a group at all", R"([1, 2, 3])"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);
        writeAll(file, c.text);
        SettingsStore store(file);
        const SettingsLoadResult loaded = store.load();
        EXPECT_EQ(loaded.status, SettingsLoadResult::Status::damaged);
        EXPECT_FALSE(loaded.problem.empty());
        EXPECT_EQ(loaded.settings, ReceiverSettings{});
        ASSERT_TRUE(loaded.damagedCopy);
        EXPECT_EQ(loaded.damagedCopy->parent_path(), file.parent_path());
        EXPECT_EQ(loaded.damagedCopy->filename().string().rfind("settings.json.damaged-", 0), 0u);
        EXPECT_EQ(readAll(*loaded.damagedCopy), c.text) << "the damaged file must be kept as it was";
        EXPECT_FALSE(fs::exists(file));
        // The next save makes a fresh file and leaves the kept one alone.
        ASSERT_TRUE(store.save(everyFieldChanged()));
        EXPECT_EQ(SettingsStore(file).load().settings, everyFieldChanged());
        EXPECT_EQ(readAll(*loaded.damagedCopy), c.text);
    }
}

TEST_F(SettingsStoreFixture, TwoDamagedFilesInOneSecondAreBothKept) {
    writeAll(file, "first");
    const auto first = SettingsStore(file).load().damagedCopy;
    writeAll(file, "second");
    const auto second = SettingsStore(file).load().damagedCopy;
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(readAll(*first), "first");
    EXPECT_EQ(readAll(*second), "second");
}

TEST_F(SettingsStoreFixture, OlderAndNewerFilesLoad) {
    // An older file with a few keys, a newer one with keys and modes this version lacks.
    writeAll(file, R"({"version": 7, "radio": {"frequencyMHz": 101.8, "mode": "DRM", "hdRadio": true},
                      "window": {"sidebarSection": "Scanner", "theme": "light"},
                      "feeds": {"mqtt": {"host": "10.0.0.2", "tls": true}, "sondehub": {"enabled": true}},
                      "plugins": [1, 2]})");
    const SettingsLoadResult loaded = SettingsStore(file).load();
    ASSERT_EQ(loaded.status, SettingsLoadResult::Status::loaded) << loaded.problem;
    ReceiverSettings expected;
    expected.frequencyMHz = 101.8;
    expected.sidebarSection = "Scanner";
    expected.feeds.mqttHost = "10.0.0.2";
    EXPECT_EQ(loaded.settings, expected) << "an unknown mode falls back to FM, the rest to defaults";
}

TEST_F(SettingsStoreFixture, ValuesOutOfRangeTakeTheirDefaults) {
    writeAll(file, R"({"radio": {"audioVolume": 7.5, "audioBalance": -3, "frequencyMHz": -1,
                                 "frequencyCorrectionPPM": 99999, "manualGainTenthsDB": 496},
                      "window": {"spectrumSpanMHz": 40, "mapView": {"centerLatitudeDeg": 95, "centerLongitudeDeg": 0, "zoom": 5}},
                      "hardware": {"dongle": {"index": 4096}},
                      "feeds": {"adsbSBS": {"port": 70000}, "mqtt": {"port": 0}}})");
    const SettingsLoadResult loaded = SettingsStore(file).load();
    ASSERT_EQ(loaded.status, SettingsLoadResult::Status::loaded) << loaded.problem;
    ReceiverSettings expected;
    expected.manualGainTenthsDB = 496.0;  // the one value in range
    EXPECT_EQ(loaded.settings, expected);
}

TEST(SettingsStorePathTest, FollowsXDGConfigHomeElseHome) {
    const char* oldXDG = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedXDG = oldXDG ? oldXDG : "", savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", "/home/tester", 1);
    struct Case {
        const char* xdg;  // nullptr: unset
        const char* expected;
    };
    const Case cases[] = {
        {"/tmp/cfg", "/tmp/cfg/vantirel/settings.json"},
        {nullptr, "/home/tester/.config/vantirel/settings.json"},
        {"", "/home/tester/.config/vantirel/settings.json"},
        {"relative/cfg", "/home/tester/.config/vantirel/settings.json"},  // XDG asks for absolute paths
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdg ? c.xdg : "(unset)");
        if (c.xdg)
            ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(SettingsStore::defaultPath(), fs::path(c.expected));
    }
    if (oldXDG) ::setenv("XDG_CONFIG_HOME", savedXDG.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
    if (oldHome) ::setenv("HOME", savedHome.c_str(), 1); else ::unsetenv("HOME");
}

TEST_F(SettingsStoreFixture, AutosaveWritesChangesAtMostEveryInterval) {
    using namespace std::chrono_literals;
    SettingsStore store(file);
    SettingsAutosave autosave(store, ReceiverSettings{}, 2s);
    const SettingsAutosave::Clock::time_point t0{};
    ReceiverSettings s;
    EXPECT_FALSE(autosave.offer(s, t0)) << "unchanged settings are not written";
    EXPECT_FALSE(fs::exists(file));

    s.audioVolume = 0.6;
    EXPECT_TRUE(autosave.offer(s, t0 + 100ms)) << "the first change is written at once";
    s.audioVolume = 0.7;
    EXPECT_FALSE(autosave.offer(s, t0 + 1s));
    EXPECT_FALSE(autosave.offer(s, t0 + 2s));
    EXPECT_DOUBLE_EQ(SettingsStore(file).load().settings.audioVolume, 0.6);
    EXPECT_TRUE(autosave.offer(s, t0 + 2100ms));
    EXPECT_DOUBLE_EQ(SettingsStore(file).load().settings.audioVolume, 0.7);

    // Quitting inside the interval still writes the last change.
    s.frequencyMHz = 99.5;
    EXPECT_FALSE(autosave.offer(s, t0 + 2200ms));
    EXPECT_TRUE(autosave.flush(s));
    EXPECT_DOUBLE_EQ(SettingsStore(file).load().settings.frequencyMHz, 99.5);
    EXPECT_EQ(autosave.saveCount(), 3);
    EXPECT_TRUE(autosave.flush(s));
    EXPECT_EQ(autosave.saveCount(), 3) << "nothing new to write";
}
