#pragma once

#include <imgui.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "GLTexture.h"
#include "MapMath.h"
#include "MapTileFetcher.h"

// The map's tile pictures: asks the fetcher for the tiles a camera needs, keeps the arrived
// ones as textures (least recently drawn dropped first) and draws them rotated with the
// camera. A missing tile is drawn from a cached ancestor meanwhile. Main (GL) thread.
class MapTileLayer {
public:
    // Without a source the layer draws nothing (the map's offline look).
    MapTileLayer(std::optional<MapTileSource> source, std::function<void()> wake);

    // Draws the tiles behind the map view whose centre is `centre`; returns the number of
    // tiles drawn from their own or an ancestor's picture.
    int draw(ImDrawList* list, const MapCamera& camera, ImVec2 viewMin, ImVec2 viewMax);

    bool isOnline() const { return fetcher != nullptr; }
    const MapTileFetcher* tileFetcher() const { return fetcher.get(); }
    std::size_t texturesHeld() const { return tiles.size(); }

    static constexpr std::size_t kMaxTextures = 320;
    static constexpr std::size_t kMaxTilesPerFrame = 160;

private:
    struct Tile {
        GLTexture texture;
        bool failed = false;
        double failedAtSeconds = 0.0;
        std::uint64_t lastDrawnFrame = 0;
    };
    void takeArrivals();
    void evict();
    // The nearest held ancestor of `key` and the part of it (u0, v0, u1, v1) that `key` covers.
    const Tile* ancestor(TileKey key, ImVec4& uv) const;

    std::unique_ptr<MapTileFetcher> fetcher;
    std::map<TileKey, Tile> tiles;
    std::uint64_t frame = 0;
};
