#include "MapTileLayer.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kRetryFailedSeconds = 30.0;

ImVec2 toScreen(const MapCamera& camera, ImVec2 centre, double worldX, double worldY, double zoomOfWorld) {
    // World pixels at the tile zoom, scaled to the camera zoom, then turned by the bearing.
    const WorldPoint c = projectToWorld(camera.center, zoomOfWorld);
    const double scale = std::exp2(camera.zoom - zoomOfWorld);
    double dx = (worldX - c.x) * scale, dy = (worldY - c.y) * scale;
    const double a = camera.rotationDeg * 3.14159265358979323846 / 180.0;
    const double rx = dx * std::cos(a) - dy * std::sin(a);
    const double ry = dx * std::sin(a) + dy * std::cos(a);
    return ImVec2(centre.x + static_cast<float>(rx), centre.y + static_cast<float>(ry));
}

}  // namespace

MapTileLayer::MapTileLayer(std::optional<MapTileSource> source, std::function<void()> wake) {
    if (source) fetcher = std::make_unique<MapTileFetcher>(std::move(*source), std::move(wake));
}

void MapTileLayer::takeArrivals() {
    for (MapTileResult& r : fetcher->takeResults()) {
        Tile& t = tiles[r.key];
        if (r.ok) {
            t.texture.upload(r.width, r.height, r.rgba, true);
            t.failed = false;
        } else {
            t.failed = true;
            t.failedAtSeconds = ImGui::GetTime();
        }
        t.lastDrawnFrame = frame;
    }
}

void MapTileLayer::evict() {
    if (tiles.size() <= kMaxTextures) return;
    std::vector<std::pair<std::uint64_t, TileKey>> byAge;
    byAge.reserve(tiles.size());
    for (const auto& [key, tile] : tiles) byAge.emplace_back(tile.lastDrawnFrame, key);
    std::sort(byAge.begin(), byAge.end());
    for (std::size_t k = 0; k < tiles.size() - kMaxTextures && k < byAge.size(); ++k) tiles.erase(byAge[k].second);
}

const MapTileLayer::Tile* MapTileLayer::ancestor(TileKey key, ImVec4& uv) const {
    for (int up = 1; up <= 6 && key.z - up >= 0; ++up) {
        const TileKey parent{.z = key.z - up, .x = key.x >> up, .y = key.y >> up};
        const auto it = tiles.find(parent);
        if (it == tiles.end() || !it->second.texture.isValid()) continue;
        const float n = static_cast<float>(1 << up);
        const float u0 = static_cast<float>(key.x - (parent.x << up)) / n;
        const float v0 = static_cast<float>(key.y - (parent.y << up)) / n;
        uv = ImVec4(u0, v0, u0 + 1.0f / n, v0 + 1.0f / n);
        return &it->second;
    }
    return nullptr;
}

int MapTileLayer::draw(ImDrawList* list, const MapCamera& camera, ImVec2 viewMin, ImVec2 viewMax) {
    if (!fetcher) return 0;
    ++frame;
    takeArrivals();
    const int z = tileZoomFor(camera.zoom);
    const ImVec2 centre((viewMin.x + viewMax.x) / 2, (viewMin.y + viewMax.y) / 2);
    // The view's corners in world pixels at the tile zoom give the tile range to cover.
    const WorldPoint c = projectToWorld(camera.center, z);
    const double scale = std::exp2(camera.zoom - z);
    const double a = -camera.rotationDeg * 3.14159265358979323846 / 180.0;
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const ImVec2 corner : {viewMin, ImVec2(viewMax.x, viewMin.y), viewMax, ImVec2(viewMin.x, viewMax.y)}) {
        const double dx = (corner.x - centre.x) / scale, dy = (corner.y - centre.y) / scale;
        const double wx = c.x + dx * std::cos(a) - dy * std::sin(a);
        const double wy = c.y + dx * std::sin(a) + dy * std::cos(a);
        minX = std::min(minX, wx);
        maxX = std::max(maxX, wx);
        minY = std::min(minY, wy);
        maxY = std::max(maxY, wy);
    }
    const int n = 1 << z;
    const int x0 = static_cast<int>(std::floor(minX / kTileSizePixels));
    const int x1 = static_cast<int>(std::floor(maxX / kTileSizePixels));
    const int y0 = std::max(0, static_cast<int>(std::floor(minY / kTileSizePixels)));
    const int y1 = std::min(n - 1, static_cast<int>(std::floor(maxY / kTileSizePixels)));

    struct Wanted {
        double distance;
        TileKey key;
    };
    std::vector<Wanted> wanted;
    int drawn = 0;
    const double now = ImGui::GetTime();
    const double midX = (minX + maxX) / 2, midY = (minY + maxY) / 2;
    std::size_t visited = 0;
    for (int ty = y0; ty <= y1; ++ty) {
        for (int tx = x0; tx <= x1; ++tx) {
            if (++visited > kMaxTilesPerFrame) break;
            const TileKey key{.z = z, .x = wrapTileX(tx, z), .y = ty};
            const double wx = tx * kTileSizePixels, wy = ty * kTileSizePixels;
            const ImVec2 p0 = toScreen(camera, centre, wx, wy, z);
            const ImVec2 p1 = toScreen(camera, centre, wx + kTileSizePixels, wy, z);
            const ImVec2 p2 = toScreen(camera, centre, wx + kTileSizePixels, wy + kTileSizePixels, z);
            const ImVec2 p3 = toScreen(camera, centre, wx, wy + kTileSizePixels, z);
            const auto it = tiles.find(key);
            const bool have = it != tiles.end() && it->second.texture.isValid();
            if (have) {
                it->second.lastDrawnFrame = frame;
                list->AddImageQuad(it->second.texture.textureID(), p0, p1, p2, p3);
                ++drawn;
                continue;
            }
            const bool retry = it == tiles.end() || (it->second.failed && now - it->second.failedAtSeconds > kRetryFailedSeconds);
            if (retry) {
                const double d = std::hypot(wx + kTileSizePixels / 2 - midX, wy + kTileSizePixels / 2 - midY);
                wanted.push_back({d, key});
            }
            ImVec4 uv;
            if (const Tile* parent = ancestor(key, uv)) {
                list->AddImageQuad(parent->texture.textureID(), p0, p1, p2, p3, ImVec2(uv.x, uv.y), ImVec2(uv.z, uv.y),
                                   ImVec2(uv.z, uv.w), ImVec2(uv.x, uv.w));
                ++drawn;
            }
        }
    }
    std::sort(wanted.begin(), wanted.end(), [](const Wanted& l, const Wanted& r) { return l.distance < r.distance; });
    std::vector<TileKey> keys;
    keys.reserve(wanted.size());
    for (const Wanted& w : wanted) keys.push_back(w.key);
    fetcher->want(std::move(keys));
    evict();
    return drawn;
}
