// Screenshots of every section and of both centre views, taken from the real window on the
// simulated dongle and checked for what they must show. The PNGs stay under
// <build>/tests/app/window-artefacts.
#include <gtest/gtest.h>

#include "MapMath.h"
#include "WindowTestSupport.h"

using namespace windowtest;

namespace {

constexpr RGB kAccent{61, 165, 255};
constexpr RGB kStar{255, 196, 61};
constexpr RGB kMapBackground{20, 30, 42};

struct Shot {
    std::string name;
    std::vector<std::string> flags;
    // The named control whose pixels must show the expected content, and the test.
    std::string control{};
    std::function<bool(RGB)> expected{};
    int minimumPixels = 0;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Shot& shot, std::ostream* os) {
    *os << shot.name;
}

class WindowShotTest : public testing::TestWithParam<Shot> {};

struct Taken {
    Image image;
    nlohmann::json state;
};

Taken take(const Shot& shot, const std::filesystem::path& documents) {
    const auto png = artefactFolder() / (shot.name + ".png");
    const auto statePath = artefactFolder() / (shot.name + ".json");
    std::filesystem::remove(png);
    std::filesystem::remove(statePath);
    std::vector<std::string> args = {"--source", "sim", "--no-audio", "--documents", documents.string(),
                                     "--tile-url", "none", "--state-file", statePath.string(),
                                     "--screenshot", png.string(), "--after", "2.5"};
    args.insert(args.end(), shot.flags.begin(), shot.flags.end());
    EXPECT_EQ(runWindow(args, {"XDG_CACHE_HOME=" + (documents / "cache").string()}), 0);
    Taken taken{Image(png), readState(statePath).value_or(nlohmann::json::object())};
    return taken;
}

}  // namespace

TEST_P(WindowShotTest, ShowsTheSection) {
    const Shot& shot = GetParam();
    const auto documents = scratchFolder(shot.name);
    writeBookmarks(documents);
    const Taken t = take(shot, documents);
    ASSERT_TRUE(t.image.loaded()) << "no screenshot";
    ASSERT_TRUE(t.state.contains("controls")) << "no state file";

    // Not blank: a window of many colours.
    EXPECT_GT(t.image.distinctColours(t.image.whole()), 200u);
    // The header tells the truth about the source.
    EXPECT_EQ(t.state["view"]["deviceLine"], "Simulated dongle");
    const std::optional<Rect> device = controlRect(t.state, "deviceLine");
    ASSERT_TRUE(device);
    EXPECT_GT(t.image.count(*device, isText), 40) << "device line not drawn";

    const std::optional<Rect> control = controlRect(t.state, shot.control);
    ASSERT_TRUE(control) << shot.control << " not drawn";
    EXPECT_GE(t.image.count(*control, shot.expected), shot.minimumPixels) << shot.control;
    std::filesystem::remove_all(documents);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, WindowShotTest,
    testing::Values(
        // The selected section's icon is lit in the accent colour.
        Shot{"section-radio", {"--section", "Radio"}, "section Radio", [](RGB c) { return near(c, kAccent, 40); }, 30},
        Shot{"section-stations", {"--section", "Stations"}, "station RIVA", isText, 60},
        Shot{"section-favorites", {"--section", "Favorites"}, "star favorite Tower", [](RGB c) { return near(c, kStar, 40); }, 40},
        Shot{"section-scanner", {"--section", "Scanner"}, "scanButton", [](RGB c) { return near(c, kAccent, 30); }, 1000},
        Shot{"section-decoders", {"--section", "Decoders"}, "rdsSwitch", [](RGB c) { return near(c, kAccent, 30); }, 100},
        Shot{"section-recordings", {"--section", "Recordings"}, "recordButton", [](RGB c) { return c.r > 150 && c.g < 90 && c.b < 90; }, 1000},
        Shot{"popover-settings", {"--popover", "settings"}, "settingsPopover", isText, 400},
        Shot{"advanced", {"--advanced"}, "advancedFrequency", isText, 40}),
    [](const testing::TestParamInfo<Shot>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(WindowViewsE2ETest, AnalogViewDrawsSpectrumAndWaterfall) {
    const auto documents = scratchFolder("analog");
    const Taken t = take({.name = "centre-analog", .flags = {"--span", "1.536"}}, documents);
    ASSERT_TRUE(t.image.loaded());
    EXPECT_EQ(t.state["view"]["centreView"], "analog");
    EXPECT_EQ(t.state["controller"]["isRunning"], true);
    EXPECT_GT(t.state["controller"]["spectrumBins"].get<int>(), 0);
    EXPECT_GT(t.state["controller"]["waterfallRows"].get<int>(), 5);

    // The spectrum trace is drawn in the accent colour.
    const std::optional<Rect> spectrum = controlRect(t.state, "spectrum");
    ASSERT_TRUE(spectrum);
    EXPECT_GT(t.image.count(*spectrum, [](RGB c) { return near(c, kAccent, 35); }), 300);
    // The waterfall is filled with the ramp: dark blue noise and the stations' warm colours.
    const std::optional<Rect> waterfall = controlRect(t.state, "waterfall");
    ASSERT_TRUE(waterfall);
    EXPECT_GT(t.image.distinctColours(*waterfall), 60u);
    EXPECT_GT(t.image.count(*waterfall, [](RGB c) { return c.b > 120 && c.r < 60; }), 2000) << "no noise floor";
    EXPECT_GT(t.image.count(*waterfall, [](RGB c) { return c.r > 180 && c.b < 90; }), 200) << "no station";
    // The signal meter and the scale labels of the spectrum.
    const std::optional<Rect> meter = controlRect(t.state, "signalMeter");
    ASSERT_TRUE(meter);
    EXPECT_GT(t.image.count(*meter, [](RGB c) { return c.g > 150 && c.r < 120; }), 50) << "meter not lit";
    EXPECT_EQ(t.state["view"]["dabSpanMHz"], 1.536);
    std::filesystem::remove_all(documents);
}

TEST(WindowViewsE2ETest, ADSBViewDrawsTheOfflineMap) {
    const auto documents = scratchFolder("adsb");
    // Long enough for the demo sky's aircraft to send both halves of a position.
    const Taken t = take({.name = "centre-adsb", .flags = {"--adsb", "--section", "Decoders", "--after", "6"}}, documents);
    ASSERT_TRUE(t.image.loaded());
    EXPECT_EQ(t.state["view"]["centreView"], "adsb");
    EXPECT_EQ(t.state["controller"]["adsbEnabled"], true);
    EXPECT_EQ(t.state["controller"]["frequencyMHz"], 1090.0);
    EXPECT_EQ(t.state["view"]["map"]["online"], false);
    EXPECT_EQ(t.state["view"]["map"]["tilesDrawn"], 0);
    const std::optional<Rect> map = controlRect(t.state, "map");
    ASSERT_TRUE(map);
    const int area = map->width * map->height;
    // A plain background with a graticule over it.
    EXPECT_GT(t.image.count(*map, [](RGB c) { return near(c, kMapBackground, 3); }), area / 2);
    EXPECT_GT(t.image.count(*map, [](RGB c) { return c.b > 55 && c.b < 110 && c.r > 35 && c.r < 80; }), 500) << "no graticule";
    EXPECT_TRUE(controlRect(t.state, "mapAttribution").has_value());

    // The demo sky's aircraft with a position are drawn where the map camera puts them.
    const nlohmann::json& m = t.state["view"]["map"];
    const MapCamera camera{.center = {m["centerLatitudeDeg"].get<double>(), m["centerLongitudeDeg"].get<double>()},
                           .zoom = m["zoom"].get<double>(),
                           .rotationDeg = m["rotationDeg"].get<double>()};
    int placed = 0;
    for (const nlohmann::json& a : t.state["controller"]["adsbAircraft"]) {
        if (a["latitude"].is_null() || a["longitude"].is_null()) continue;
        ++placed;
        SCOPED_TRACE(a["icao"].get<std::string>());
        const ScreenOffset o = screenFromGeo(camera, {a["latitude"].get<double>(), a["longitude"].get<double>()});
        const int x = map->x + map->width / 2 + static_cast<int>(o.dx), y = map->y + map->height / 2 + static_cast<int>(o.dy);
        // Every altitude colour is far brighter than the map.
        EXPECT_GT(t.image.count({x - 14, y - 14, 28, 28}, [](RGB c) { return c.r + c.g + c.b > 300; }), 40);
    }
    EXPECT_GT(placed, 0) << "the demo sky has aircraft";
    EXPECT_FALSE(std::filesystem::exists(documents / "cache" / "vantirel")) << "offline map must not touch the tile cache";
    std::filesystem::remove_all(documents);
}

TEST(WindowViewsE2ETest, DABChannelFlagOpensTheStreamingView) {
    const auto documents = scratchFolder("dabview");
    const Taken t = take({.name = "centre-dab", .flags = {"--dab-channel", "12C", "--section", "dab", "--after", "5"}}, documents);
    ASSERT_TRUE(t.image.loaded());
    const nlohmann::json& c = t.state["controller"];
    EXPECT_EQ(t.state["view"]["centreView"], "dab");
    EXPECT_EQ(c["dabStreamRunning"], true);
    EXPECT_EQ(c["frequencyMHz"], 227.36);
    // The first DAB+ service plays.
    ASSERT_FALSE(c["dabServices"].empty());
    EXPECT_EQ(c["dabSelectedServiceId"], c["dabServices"][0]["serviceID"]);
    EXPECT_GT(c["dabSuperframeCount"].get<int>(), 0);
    const std::optional<Rect> constellation = controlRect(t.state, "constellation");
    ASSERT_TRUE(constellation);
    EXPECT_GT(t.image.count(*constellation, [](RGB px) { return near(px, kAccent, 45); }), 300);
    // The ensemble card with its way back to FM sits in the Radio panel's DAB part.
    const std::optional<Rect> back = controlRect(t.state, "dabBackToFM");
    ASSERT_TRUE(back);
    EXPECT_GT(t.image.count(*back, isText), 30);
    std::filesystem::remove_all(documents);
}
