#include "StateFile.h"

#include <gtest/gtest.h>

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
