#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "MapMath.h"

// Where map tiles come from and where they are kept.
struct MapTileSource {
    std::string urlTemplate{};             // with {z}, {x}, {y}; http or https only
    std::filesystem::path cacheFolder{};   // tiles live at <folder>/<z>/<x>/<y>.png
    std::string userAgent = "Vantirel/0.1 (desktop SDR receiver)";
    std::string attribution{};             // shown on the map
};

// A tile as decoded pixels, or the news that it could not be had.
struct MapTileResult {
    TileKey key;
    bool ok = false;
    bool fromCache = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba{};
};

// Fetches tiles on its own thread: first from the disk cache, else over HTTP with libcurl,
// storing what it downloads in the cache. The UI says which tiles it wants (newest wish list
// replaces the old one) and drains finished tiles each frame; `onResult` (any thread) wakes
// the UI. `want` and `takeResults` are for the main thread; the destructor stops and joins,
// abandoning a transfer in progress.
class MapTileFetcher {
public:
    MapTileFetcher(MapTileSource source, std::function<void()> onResult);
    ~MapTileFetcher();
    MapTileFetcher(const MapTileFetcher&) = delete;
    MapTileFetcher& operator=(const MapTileFetcher&) = delete;

    // The tiles to fetch, most wanted first; replaces the tiles still waiting.
    void want(std::vector<TileKey> tiles);
    std::vector<MapTileResult> takeResults();

    const MapTileSource& source() const { return config; }
    std::uint64_t downloads() const { return downloadCount.load(); }
    std::uint64_t cacheHits() const { return cacheHitCount.load(); }
    std::uint64_t failures() const { return failureCount.load(); }

    // Cached tiles older than this are fetched again (kept if the fetch fails).
    static constexpr std::chrono::hours kCacheMaxAge{24 * 30};
    static constexpr std::size_t kMaxTileBytes = 2 * 1024 * 1024;

private:
    void run(std::stop_token stop);
    // `handle` is the worker's CURL easy handle.
    MapTileResult fetch(TileKey key, const std::stop_token& stop, void* handle);
    std::filesystem::path cachePath(TileKey key) const;

    MapTileSource config;
    std::function<void()> onResult;
    std::mutex lock;
    std::condition_variable_any wake;
    std::deque<TileKey> pending;
    std::optional<TileKey> inFlight;
    std::vector<MapTileResult> done;
    std::atomic<std::uint64_t> downloadCount{0}, cacheHitCount{0}, failureCount{0};
    std::jthread worker;  // last: starts after, and is joined before, what it uses
};

// Decodes a PNG or JPEG tile to RGBA; false when it is not a picture.
bool decodeTileImage(const std::vector<std::uint8_t>& bytes, MapTileResult& out);
