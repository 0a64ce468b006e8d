#include "MapTileFetcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>

#include "LocalTileServer.h"

namespace {

// Counts the fetcher's "a tile is ready" calls so the test waits for them, not for time.
struct Arrivals {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;

    std::function<void()> callback() {
        return [this] {
            std::lock_guard guard(lock);
            ++count;
            changed.notify_all();
        };
    }
    // The deadline only guards against a hang; it is not part of what is tested.
    bool waitFor(int n) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [&] { return count >= n; });
    }
};

class MapTileFetcherTest : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("vantirel-tiles-" + std::to_string(::getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Waits for `n` results of one fetcher and returns them.
    static std::vector<MapTileResult> collect(MapTileFetcher& fetcher, Arrivals& arrivals, int n) {
        EXPECT_TRUE(arrivals.waitFor(n));
        return fetcher.takeResults();
    }

    std::filesystem::path folder;
};

// Tiles are magenta, except y = 7, which the server does not have, and y = 6, which is text.
std::optional<std::string> tiles(const std::string& path) {
    if (path.ends_with("/7.png")) return std::nullopt;
    if (path.ends_with("/6.png")) return std::string("this is not a picture");
    return solidTilePNG(200, 40, 200);
}

}  // namespace

TEST_F(MapTileFetcherTest, DownloadsCachesAndThenServesFromTheCache) {
    LocalTileServer server(tiles);
    const MapTileSource source{.urlTemplate = server.urlTemplate(), .cacheFolder = folder};
    {
        Arrivals arrivals;
        MapTileFetcher fetcher(source, arrivals.callback());
        fetcher.want({{.z = 3, .x = 4, .y = 2}});
        const std::vector<MapTileResult> results = collect(fetcher, arrivals, 1);
        ASSERT_EQ(results.size(), 1u);
        const MapTileResult& r = results[0];
        EXPECT_TRUE(r.ok);
        EXPECT_FALSE(r.fromCache);
        EXPECT_EQ(r.key, (TileKey{.z = 3, .x = 4, .y = 2}));
        ASSERT_EQ(r.width, 256);
        ASSERT_EQ(r.height, 256);
        const std::uint8_t* inside = &r.rgba[(100 * 256 + 100) * 4];
        EXPECT_EQ(inside[0], 200);
        EXPECT_EQ(inside[1], 40);
        EXPECT_EQ(inside[2], 200);
        EXPECT_EQ(inside[3], 255);
        EXPECT_EQ(fetcher.downloads(), 1u);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / "3" / "4" / "2.png"));
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/3/4/2.png"}));

    Arrivals again;
    MapTileFetcher second(source, again.callback());
    second.want({{.z = 3, .x = 4, .y = 2}});
    const std::vector<MapTileResult> cached = collect(second, again, 1);
    ASSERT_EQ(cached.size(), 1u);
    EXPECT_TRUE(cached[0].ok);
    EXPECT_TRUE(cached[0].fromCache);
    EXPECT_EQ(second.cacheHits(), 1u);
    EXPECT_EQ(server.requests().size(), 1u) << "a cached tile is not fetched again";
}

TEST_F(MapTileFetcherTest, MissingOrBrokenTilesFailAndAreNotCached) {
    LocalTileServer server(tiles);
    Arrivals arrivals;
    MapTileFetcher fetcher({.urlTemplate = server.urlTemplate(), .cacheFolder = folder}, arrivals.callback());
    fetcher.want({{.z = 5, .x = 1, .y = 7}, {.z = 5, .x = 1, .y = 6}});
    const std::vector<MapTileResult> results = collect(fetcher, arrivals, 2);
    ASSERT_EQ(results.size(), 2u);
    for (const MapTileResult& r : results) {
        SCOPED_TRACE(r.key.y);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.rgba.empty());
        EXPECT_FALSE(std::filesystem::exists(folder / "5" / "1" / (std::to_string(r.key.y) + ".png")));
    }
    EXPECT_EQ(fetcher.failures(), 2u);
}

TEST_F(MapTileFetcherTest, AStaleTileIsUsedWhenTheServerCannotBeReached) {
    // A cached tile two months old, and a server that is gone.
    std::filesystem::create_directories(folder / "4" / "8");
    {
        std::ofstream out(folder / "4" / "8" / "5.png", std::ios::binary);
        out << solidTilePNG(10, 200, 10);
    }
    std::filesystem::last_write_time(folder / "4" / "8" / "5.png",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 60));
    std::string deadTemplate;
    {
        LocalTileServer gone(tiles);
        deadTemplate = gone.urlTemplate();
    }
    Arrivals arrivals;
    MapTileFetcher fetcher({.urlTemplate = deadTemplate, .cacheFolder = folder}, arrivals.callback());
    fetcher.want({{.z = 4, .x = 8, .y = 5}, {.z = 4, .x = 8, .y = 6}});
    std::vector<MapTileResult> results = collect(fetcher, arrivals, 2);
    ASSERT_EQ(results.size(), 2u);
    std::sort(results.begin(), results.end(), [](const MapTileResult& a, const MapTileResult& b) { return a.key < b.key; });
    EXPECT_TRUE(results[0].ok);
    EXPECT_TRUE(results[0].fromCache);
    EXPECT_EQ(results[0].rgba[(50 * 256 + 50) * 4 + 1], 200);
    EXPECT_FALSE(results[1].ok);
}

TEST_F(MapTileFetcherTest, RefusesAddressesThatAreNotHTTP) {
    std::filesystem::create_directories(folder);
    {
        std::ofstream out(folder / "secret.png", std::ios::binary);
        out << solidTilePNG(1, 2, 3);
    }
    Arrivals arrivals;
    MapTileFetcher fetcher({.urlTemplate = "file://" + (folder / "secret.png").string() + "?{z}{x}{y}",
                            .cacheFolder = folder / "cache"},
                           arrivals.callback());
    fetcher.want({{.z = 1, .x = 0, .y = 0}});
    const std::vector<MapTileResult> results = collect(fetcher, arrivals, 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
}

TEST(MapTileDecodeTest, AcceptsPicturesOnly) {
    MapTileResult out;
    const std::string png = solidTilePNG(1, 2, 3);
    EXPECT_TRUE(decodeTileImage(std::vector<std::uint8_t>(png.begin(), png.end()), out));
    EXPECT_EQ(out.width, 256);
    EXPECT_FALSE(decodeTileImage({}, out));
    const std::string text = "<html>rate limited</html>";
    EXPECT_FALSE(decodeTileImage(std::vector<std::uint8_t>(text.begin(), text.end()), out));
}
