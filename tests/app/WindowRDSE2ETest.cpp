// RDS in the window: on the demo's start station the RDS card shows the details record and the
// now-playing header shows the RadioText+ artist and title instead of the radio text.
#include <gtest/gtest.h>

#include "WindowTestSupport.h"

using namespace windowtest;

namespace {

constexpr RGB kAccent{61, 165, 255};

int countIn(const Image& image, const nlohmann::json& state, const std::string& control,
            const std::function<bool(RGB)>& test) {
    const std::optional<Rect> r = controlRect(state, control);
    return r ? image.count(*r, test) : -1;
}
// The running item is drawn in the accent colour, the details in text colours.
int itemPixels(const Image& image, const nlohmann::json& state) {
    return countIn(image, state, "nowPlayingItem", [](RGB c) { return near(c, kAccent, 45); });
}
int detailPixels(const Image& image, const nlohmann::json& state) {
    return countIn(image, state, "rdsDetails", isText);
}

TEST(WindowRDSE2ETest, ShowsTheStationsDetailsAndTheRunningItem) {
    const auto documents = scratchFolder("rds");
    const auto statePath = documents / "state.json";
    const auto png = artefactFolder() / "rds-details.png";
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";
    ChildProcess window({vantirelBinary().string(), "--source", "sim", "--no-audio", "--documents",
                         documents.string(), "--tile-url", "none", "--state-file", statePath.string()},
                        {"DISPLAY=" + screen.name(), "XDG_CACHE_HOME=" + (documents / "cache").string()});
    ASSERT_TRUE(window.started());
    Session session(screen, statePath);
    ASSERT_TRUE(session.waitFor(
        [](const nlohmann::json& j) {
            const nlohmann::json& d = j["controller"]["rdsDetails"];
            return d["radioTextPlusTitle"] == "Šetnja uz Dravu" && !d["clockTime"].is_null() &&
                   j["controls"].contains("nowPlayingItem") && j["controls"].contains("rdsDetails");
        },
        std::chrono::seconds(40)))
        << session.current().dump();

    std::optional<Image> image;
    nlohmann::json state;
    eventually([&] {
        state = session.current();
        if (!session.screenshot(png)) return false;
        image.emplace(png);
        return image->loaded() && itemPixels(*image, state) > 60 && detailPixels(*image, state) > 150;
    });
    ASSERT_TRUE(image && image->loaded());
    EXPECT_GT(itemPixels(*image, state), 60) << "artist and title not drawn";
    EXPECT_GT(detailPixels(*image, state), 150) << "RDS details not drawn";
    // RDS has no capital D with stroke; the station sends the eth, which looks the same.
    EXPECT_EQ(state["controller"]["rdsDetails"]["radioTextPlusArtist"], "Ðurđa Kovačić");
}

}  // namespace
