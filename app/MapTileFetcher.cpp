#include "MapTileFetcher.h"

#include <curl/curl.h>
#include <stb_image.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "platform/DebugLog.h"
#include "platform/ThreadSupport.h"
#include "platform/UserPaths.h"

namespace {

struct CurlCleanup {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

struct Download {
    std::vector<std::uint8_t> bytes{};
    bool tooLarge = false;
    const std::stop_token* stop = nullptr;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* d = static_cast<Download*>(context);
    const std::size_t n = size * count;
    if (d->bytes.size() + n > MapTileFetcher::kMaxTileBytes) {
        d->tooLarge = true;
        return 0;  // aborts the transfer
    }
    d->bytes.insert(d->bytes.end(), data, data + n);
    return n;
}

int progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* d = static_cast<Download*>(context);
    return d->stop->stop_requested() ? 1 : 0;  // non-zero abandons the transfer
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool isFresh(const std::filesystem::path& path) {
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);
    if (ec) return false;
    return std::filesystem::file_time_type::clock::now() - written < MapTileFetcher::kCacheMaxAge;
}

}  // namespace

bool decodeTileImage(const std::vector<std::uint8_t>& bytes, MapTileResult& out) {
    if (bytes.empty()) return false;
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels, 4);
    if (pixels == nullptr) return false;
    const bool sane = w > 0 && h > 0 && w <= 1024 && h <= 1024;
    if (sane) {
        out.width = w;
        out.height = h;
        out.rgba.assign(pixels, pixels + static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    }
    stbi_image_free(pixels);
    return sane;
}

MapTileFetcher::MapTileFetcher(MapTileSource source, std::function<void()> notify)
    : config(std::move(source)), onResult(std::move(notify)),
      worker([this](std::stop_token stop) { run(stop); }) {}

MapTileFetcher::~MapTileFetcher() {
    worker.request_stop();
    wake.notify_all();
}

void MapTileFetcher::want(std::vector<TileKey> tiles) {
    {
        std::lock_guard guard(lock);
        // A tile being fetched or waiting to be taken is not asked for twice.
        std::erase_if(tiles, [this](const TileKey& k) {
            return (inFlight && *inFlight == k) ||
                   std::any_of(done.begin(), done.end(), [&](const MapTileResult& r) { return r.key == k; });
        });
        pending.assign(tiles.begin(), tiles.end());
    }
    wake.notify_all();
}

std::vector<MapTileResult> MapTileFetcher::takeResults() {
    std::lock_guard guard(lock);
    std::vector<MapTileResult> out;
    out.swap(done);
    return out;
}

std::filesystem::path MapTileFetcher::cachePath(TileKey key) const {
    return config.cacheFolder / std::to_string(key.z) / std::to_string(key.x) / (std::to_string(key.y) + ".png");
}

void MapTileFetcher::run(std::stop_token stop) {
    configureCurrentThread("MapTiles", ThreadPriority::utility);
    // One handle for the thread's life, so connections to the server are kept alive.
    const CurlHandle curl(curl_easy_init());
    while (!stop.stop_requested()) {
        TileKey key;
        {
            std::unique_lock guard(lock);
            if (!wake.wait(guard, stop, [this] { return !pending.empty(); })) return;
            key = pending.front();
            pending.pop_front();
            inFlight = key;
        }
        MapTileResult result = fetch(key, stop, curl.get());
        if (stop.stop_requested()) return;
        {
            std::lock_guard guard(lock);
            done.push_back(std::move(result));
            inFlight.reset();
        }
        if (onResult) onResult();
    }
}

MapTileResult MapTileFetcher::fetch(TileKey key, const std::stop_token& stop, void* handle) {
    MapTileResult result{.key = key};
    const std::filesystem::path file = cachePath(key);
    const std::vector<std::uint8_t> cached = readFile(file);
    const bool cachedOK = decodeTileImage(cached, result);
    if (cachedOK && isFresh(file)) {
        result.ok = true;
        result.fromCache = true;
        ++cacheHitCount;
        return result;
    }

    Download download{.stop = &stop};
    const std::string url = tileURL(config.urlTemplate, key);
    CURL* h = static_cast<CURL*>(handle);
    bool fetched = false;
    if (h != nullptr) {
        curl_easy_reset(h);
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 3L);
        curl_easy_setopt(h, CURLOPT_USERAGENT, config.userAgent.c_str());
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 5L);
        curl_easy_setopt(h, CURLOPT_TIMEOUT, 20L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &download);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &download);
        const CURLcode code = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        MapTileResult fresh{.key = key};
        if (code == CURLE_OK && status == 200 && decodeTileImage(download.bytes, fresh)) {
            fetched = true;
            result = std::move(fresh);
            std::error_code ec;
            std::filesystem::create_directories(file.parent_path(), ec);
            std::string error;
            if (ec || !writeFileAtomically(file, std::string(download.bytes.begin(), download.bytes.end()), &error))
                DebugLog::writef("map tile %s not cached: %s", file.c_str(), ec ? ec.message().c_str() : error.c_str());
        } else if (!stop.stop_requested()) {
            DebugLog::writef("map tile %s: %s (HTTP %ld)%s", url.c_str(), curl_easy_strerror(code), status,
                             download.tooLarge ? ", too large" : "");
        }
    }
    if (fetched) {
        result.ok = true;
        ++downloadCount;
        return result;
    }
    if (cachedOK) {
        // A stale tile beats no tile while the server cannot be reached.
        result.ok = true;
        result.fromCache = true;
        ++cacheHitCount;
        return result;
    }
    ++failureCount;
    return {.key = key};
}
