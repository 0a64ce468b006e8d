#pragma once

#include <imgui.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "MapMath.h"
#include "MapTileLayer.h"
#include "adsb/ADSBAircraft.h"

class UIProbe;

// Aircraft that can be placed on the map: both latitude and longitude known.
std::vector<const ADSBAircraft*> placeableAircraft(std::span<const ADSBAircraft> aircraft);
// The aircraft's map label: its callsign (or address) and the altitude line ("37000 ft").
std::string aircraftName(const ADSBAircraft& aircraft);
std::optional<std::string> altitudeLabel(const ADSBAircraft& aircraft);

// The ADS-B map: Web-Mercator tiles (when a tile source is configured), a graticule, a scale
// bar, and each placed aircraft as an airplane symbol turned by its heading with its trail
// as a polyline and a label with the altitude. Drag pans, the wheel zooms about the pointer,
// right-drag (or Ctrl-drag) rotates, double-click zooms in. Until the user moves the map it
// keeps the aircraft in view. Main (GL) thread; the tile fetcher works on its own thread.
class AircraftMapView {
public:
    AircraftMapView(std::optional<MapTileSource> tiles, std::function<void()> wake, GeoPoint home);

    void draw(const char* id, std::span<const ADSBAircraft> aircraft, ImVec2 size, UIProbe& probe);

    const MapCamera& camera() const { return cam; }
    // A remembered view: the map stays there instead of following the aircraft.
    void setCamera(const MapCamera& camera) {
        cam = camera;
        userMoved = true;
    }
    bool hasUserView() const { return userMoved; }
    int tilesDrawn() const { return lastTilesDrawn; }
    const MapTileLayer& tileLayer() const { return tiles; }

private:
    void handleInput(ImVec2 viewMin, ImVec2 viewMax);
    void drawGraticule(ImDrawList* list, ImVec2 viewMin, ImVec2 viewMax) const;
    void drawScaleBar(ImDrawList* list, ImVec2 viewMin, ImVec2 viewMax) const;
    void drawAircraft(ImDrawList* list, std::span<const ADSBAircraft> aircraft, ImVec2 centre);
    void drawControls(ImVec2 viewMin, ImVec2 viewMax, UIProbe& probe);

    MapCamera cam;
    MapTileLayer tiles;
    std::string attribution;
    bool userMoved = false;
    int lastTilesDrawn = 0;
};
