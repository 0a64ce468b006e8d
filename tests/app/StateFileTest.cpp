#include "StateFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ContentViewState.h"
#include "UIProbe.h"
#include "control/SDRController.h"

namespace {

std::filesystem::path freshFolder(const char* name) {
    const auto folder = std::filesystem::temp_directory_path() / (std::string("vantirel-state-") + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(StateFileTest, PublishesControllerViewAndControls) {
    const auto folder = freshFolder("json");
    {
        std::ofstream out(folder / "OrvelleBookmarks.json");
        out << R"([{"id":"11111111-1111-4111-8111-111111111111","name":"RIVA","frequencyMHz":93.4,"isFavorite":true}])";
    }
    auto controller = SDRController::create({.dongle = {}, .audio = {}, .mainQueue = nullptr, .documentsDir = folder});
    ContentViewState state;
    state.sidebarSection = SidebarSection::stations;
    UIProbe probe;
    probe.beginFrame();
    probe.noteRect("startStop", ImVec2(10, 20), ImVec2(84, 50));
    probe.endFrame();
    const nlohmann::json j = windowStateJSON(*controller, state, probe, {.deviceLine = "Simulated dongle", .centreView = "analog"});

    EXPECT_EQ(j["controller"]["frequencyMHz"], 92.1);
    EXPECT_EQ(j["controller"]["statusText"], "Zaustavljeno");
    EXPECT_EQ(j["controller"]["isRunning"], false);
    EXPECT_EQ(j["controller"]["mode"], "FM");
    EXPECT_EQ(j["controller"]["selectedStationID"], "11111111-1111-4111-8111-111111111111");
    ASSERT_EQ(j["controller"]["stations"].size(), 1u);
    EXPECT_EQ(j["controller"]["stations"][0]["name"], "RIVA");
    EXPECT_EQ(j["controller"]["rdsStationName"], nullptr);
    EXPECT_EQ(j["view"]["sidebarSection"], "Stations");
    EXPECT_EQ(j["view"]["frequencyText"], "92.10");
    EXPECT_EQ(j["view"]["deviceLine"], "Simulated dongle");
    EXPECT_EQ(j["controls"]["startStop"]["x"], 10.0);
    EXPECT_EQ(j["controls"]["startStop"]["width"], 74.0);
    controller.reset();
    std::filesystem::remove_all(folder);
}

TEST(StateFileTest, PublishesTheDABStreamForTheWindowTests) {
    const auto folder = freshFolder("dab");
    auto controller = SDRController::create({.dongle = {}, .audio = {}, .mainQueue = nullptr, .documentsDir = folder});
    controller->dabResults = {{.channel = {.id = "12C", .label = "12C", .frequencyMHz = 227.36}, .strengthDB = -12, .snrEstimate = 24}};
    controller->dabServices = {{.serviceID = 0x2C11, .label = "Radio Šibenik", .bitrateKbps = 96}};
    controller->dabDynamicLabel = "Sada svira: jazz";
    // Four points at the QPSK phases at radius 2, one turned 9° off: spread 9/√4 = 4.5°.
    controller->dabConstellation = {{1.41421f, 1.41421f}, {-1.41421f, 1.41421f}, {-1.41421f, -1.41421f},
                                    {static_cast<float>(2 * std::cos(-36.0 * M_PI / 180)),
                                     static_cast<float>(2 * std::sin(-36.0 * M_PI / 180))}};
    ContentViewState state;
    state.pendingDABChannel = controller->dabResults[0];
    UIProbe probe;
    const nlohmann::json j = windowStateJSON(*controller, state, probe,
                                             {.centreView = "dab", .dabLogosHeld = 2, .dabSlideshowShown = 3});
    const nlohmann::json& c = j["controller"];
    ASSERT_EQ(c["dabResults"].size(), 1u);
    EXPECT_EQ(c["dabResults"][0]["label"], "12C");
    EXPECT_EQ(c["dabResults"][0]["hasSignal"], true);
    EXPECT_EQ(c["dabServices"][0]["serviceID"], 0x2C11);
    EXPECT_EQ(c["dabDynamicLabel"], "Sada svira: jazz");
    EXPECT_EQ(c["dabConstellation"]["size"], 4);
    EXPECT_NEAR(c["dabConstellation"]["rmsRadius"].get<double>(), 2.0, 1e-3);
    EXPECT_NEAR(c["dabConstellation"]["spreadDeg"].get<double>(), 4.5, 0.01);
    // The rounded points keep their phases to well under a degree.
    const nlohmann::json& last = c["dabConstellation"]["points"][3];
    EXPECT_NEAR(std::atan2(last[1].get<double>(), last[0].get<double>()) * 180 / M_PI, -36.0, 0.1);
    EXPECT_EQ(j["view"]["centreView"], "dab");
    EXPECT_EQ(j["view"]["pendingDABChannel"], "12C");
    EXPECT_EQ(j["view"]["dabLogosHeld"], 2);
    EXPECT_EQ(j["view"]["dabSlideshowShown"], 3);
    controller.reset();
    std::filesystem::remove_all(folder);
}

TEST(StateFileTest, WritesOnlyWhenTheStateChanged) {
    const auto folder = freshFolder("writer");
    const auto path = folder / "state.json";
    StateFileWriter writer(path);
    nlohmann::json state = {{"frequencyMHz", 92.1}};
    EXPECT_TRUE(writer.update(state));
    EXPECT_EQ(nlohmann::json::parse(readAll(path)), state);
    EXPECT_FALSE(writer.update(state));
    state["frequencyMHz"] = 92.2;
    EXPECT_TRUE(writer.update(state));
    EXPECT_EQ(nlohmann::json::parse(readAll(path))["frequencyMHz"], 92.2);
    // A folder that cannot be written is reported, not crashed on, and tried again next time.
    { std::ofstream blocker(folder / "blocker"); }
    StateFileWriter nowhere(folder / "blocker" / "state.json");  // a file where a folder should be
    EXPECT_FALSE(nowhere.update(state));
    EXPECT_FALSE(nowhere.update(state));
    std::filesystem::remove_all(folder);
}
