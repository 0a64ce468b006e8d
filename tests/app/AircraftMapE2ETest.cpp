// The ADS-B map with tiles from a local HTTP server (never an outside host): the real window
// fetches, draws and caches them; and the map view drawn in this process over the same kind
// of tiles with aircraft of known positions.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>
#include <imgui.h>

#include "AircraftMapView.h"
#include "AppWindow.h"
#include "LocalTileServer.h"
#include "Theme.h"
#include "UIProbe.h"
#include "WindowTestSupport.h"
#include "platform/MainQueue.h"

using namespace windowtest;

namespace {

constexpr RGB kTile{40, 170, 110};

std::optional<std::string> greenTiles(const std::string&) {
    return solidTilePNG(static_cast<std::uint8_t>(kTile.r), static_cast<std::uint8_t>(kTile.g),
                        static_cast<std::uint8_t>(kTile.b));
}

std::size_t filesUnder(const std::filesystem::path& folder, const std::string& extension) {
    std::size_t n = 0;
    if (!std::filesystem::exists(folder)) return 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == extension) ++n;
    return n;
}

}  // namespace

TEST(AircraftMapE2ETest, WindowDrawsAndCachesServedTiles) {
    LocalTileServer server(greenTiles);
    const auto documents = scratchFolder("map-online");
    const auto cache = documents / "cache";
    const auto png = artefactFolder() / "centre-adsb-tiles.png";
    const auto statePath = artefactFolder() / "centre-adsb-tiles.json";
    std::filesystem::remove(png);
    ASSERT_EQ(runWindow({"--source", "sim", "--no-audio", "--documents", documents.string(), "--adsb", "--tile-url",
                         server.urlTemplate(), "--state-file", statePath.string(), "--screenshot", png.string(),
                         "--after", "3"},
                        {"XDG_CACHE_HOME=" + cache.string()}),
              0);
    const Image image(png);
    ASSERT_TRUE(image.loaded());
    const nlohmann::json state = readState(statePath).value_or(nlohmann::json::object());
    ASSERT_TRUE(state.contains("view"));
    EXPECT_EQ(state["view"]["map"]["online"], true);
    EXPECT_GT(state["view"]["map"]["tilesDrawn"].get<int>(), 0);
    EXPECT_GT(state["view"]["map"]["downloads"].get<int>(), 0);
    EXPECT_FALSE(server.requests().empty());

    // Drawn: most of the map is the served tiles' green.
    const std::optional<Rect> map = controlRect(state, "map");
    ASSERT_TRUE(map);
    EXPECT_GT(image.count(*map, [](RGB c) { return near(c, kTile, 12); }), map->width * map->height / 2);
    // Cached: one PNG per tile under the server's folder.
    const auto folder = cache / "vantirel" / "tiles" / ("127.0.0.1_" + std::to_string(server.port()));
    EXPECT_GT(filesUnder(folder, ".png"), 0u);
    EXPECT_EQ(filesUnder(folder, ".png"), state["view"]["map"]["downloads"].get<std::size_t>());
    // The attribution box is drawn over the tiles.
    const std::optional<Rect> attribution = controlRect(state, "mapAttribution");
    ASSERT_TRUE(attribution);
    EXPECT_GT(image.count(*attribution, [](RGB c) { return c.r > 180 && c.g > 200 && c.b > 190; }), 50);
    std::filesystem::remove_all(documents);
}

namespace {

std::vector<ADSBAircraft> knownAircraft() {
    std::vector<ADSBAircraft> aircraft(3);
    aircraft[0].icao = aircraft[0].id = "4CA7B2";
    aircraft[0].callsign = "RYR7QW";
    aircraft[0].altitude = 37'000;
    aircraft[0].groundSpeed = 452.0;
    aircraft[0].heading = 118.0;
    aircraft[0].latitude = 46.05;
    aircraft[0].longitude = 15.70;
    aircraft[0].trail = {{45.95, 15.45}, {46.00, 15.57}, {46.05, 15.70}};
    aircraft[1].icao = aircraft[1].id = "3C6DD4";
    aircraft[1].callsign = "DLH4KT";
    aircraft[1].altitude = 8'000;
    aircraft[1].heading = 305.0;
    aircraft[1].latitude = 45.65;
    aircraft[1].longitude = 16.20;
    // Heard, but without a position: listed, not placed.
    aircraft[2].icao = aircraft[2].id = "501C4F";
    aircraft[2].altitude = 24'000;
    return aircraft;
}

// Runs in a child process under Xvfb (the test re-runs itself there).
int drawMapInWindow(const std::filesystem::path& png, const std::string& tileTemplate, const std::filesystem::path& cache,
                    MapCamera& cameraOut, ImVec2& originOut, ImVec2& sizeOut) {
    auto queue = std::make_shared<MainQueue>();
    AppWindow window(queue, {.width = 900, .height = 700, .screenshotPath = png, .screenshotAfterSeconds = 2.0});
    AircraftMapView map(MapTileSource{.urlTemplate = tileTemplate, .cacheFolder = cache, .attribution = "Test tiles"},
                        [queue] { queue->post([] {}); }, {.latitudeDeg = 45.8, .longitudeDeg = 16.0});
    UIProbe probe;
    const std::vector<ADSBAircraft> aircraft = knownAircraft();
    window.run([&] {
        probe.beginFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
        ImGui::Begin("map", nullptr, ImGuiWindowFlags_NoDecoration);
        originOut = ImGui::GetCursorScreenPos();
        sizeOut = ImGui::GetContentRegionAvail();
        map.draw("map", aircraft, sizeOut, probe);
        ImGui::End();
        probe.endFrame();
        cameraOut = map.camera();
    });
    return 0;
}

}  // namespace

TEST(AircraftMapE2ETest, PlacesAircraftWithTrailsOverTiles) {
    const char* inner = std::getenv("VANTIREL_MAP_CHILD");
    if (inner == nullptr) {
        // Re-run this test alone on a virtual screen.
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        const std::string command = "VANTIREL_MAP_CHILD=1 xvfb-run -a -s \"-screen 0 1600x1000x24\" " + shellQuote(self) +
                                    " --gtest_filter=AircraftMapE2ETest.PlacesAircraftWithTrailsOverTiles";
        EXPECT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << "the drawing run failed; run " << command;
        return;
    }
    LocalTileServer server(greenTiles);
    const auto folder = scratchFolder("map-inline");
    const auto png = artefactFolder() / "map-aircraft.png";
    MapCamera camera;
    ImVec2 origin, size;
    drawMapInWindow(png, server.urlTemplate(), folder / "tiles", camera, origin, size);
    const Image image(png);
    ASSERT_TRUE(image.loaded());
    EXPECT_FALSE(server.requests().empty());

    const ImVec2 centre(origin.x + size.x / 2, origin.y + size.y / 2);
    const auto screenOf = [&](double lat, double lon) {
        const ScreenOffset o = screenFromGeo(camera, {.latitudeDeg = lat, .longitudeDeg = lon});
        return std::pair(static_cast<int>(centre.x + o.dx), static_cast<int>(centre.y + o.dy));
    };
    // Each placed aircraft is drawn in its altitude colour at its position.
    struct Expect {
        double lat, lon;
        RGB colour;
    };
    const Expect expects[] = {{46.05, 15.70, {196, 150, 255}}, {45.65, 16.20, {92, 214, 140}}};
    for (const Expect& e : expects) {
        SCOPED_TRACE(testing::Message() << e.lat << ", " << e.lon);
        const auto [x, y] = screenOf(e.lat, e.lon);
        ASSERT_GT(x, 20);
        ASSERT_LT(x, image.width() - 20);
        EXPECT_GT(image.count({x - 12, y - 12, 24, 24}, [&](RGB c) { return near(c, e.colour, 20); }), 40);
    }
    // The trail: a stroke between the first two trail points.
    const auto [ax, ay] = screenOf(45.975, 15.51);
    EXPECT_GT(image.count({ax - 4, ay - 4, 8, 8}, [](RGB c) { return c.r > 120 && c.b > 150; }), 2);
    // The tiles fill the background.
    EXPECT_GT(image.count({10, 10, 100, 100}, [](RGB c) { return near(c, kTile, 12); }), 5000);
    std::filesystem::remove_all(folder);
}
