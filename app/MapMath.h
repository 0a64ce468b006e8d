#pragma once

#include <compare>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Web-Mercator (EPSG:3857) slippy-map arithmetic: 256-pixel tiles, zoom z has 2^z × 2^z
// tiles, x grows east and y grows south. Pure functions, no ImGui.

inline constexpr double kTileSizePixels = 256.0;
inline constexpr double kMaxMercatorLatitudeDeg = 85.0511287798066;
inline constexpr int kMinTileZoom = 0;
inline constexpr int kMaxTileZoom = 19;

struct GeoPoint {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    bool operator==(const GeoPoint&) const = default;
};

// Pixels of the whole world at a (fractional) zoom, origin at the north-west corner.
struct WorldPoint {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const WorldPoint&) const = default;
};

struct TileKey {
    int z = 0;
    int x = 0;
    int y = 0;
    auto operator<=>(const TileKey&) const = default;
};

// Screen offset from the map view's centre, in pixels (y down).
struct ScreenOffset {
    double dx = 0.0;
    double dy = 0.0;
};

// What the map shows: the geographic point at the view's centre, the zoom and the bearing
// (degrees the picture is turned clockwise; 0 puts north up).
struct MapCamera {
    GeoPoint center;
    double zoom = 8.0;
    double rotationDeg = 0.0;
};

double worldSizePixels(double zoom);
WorldPoint projectToWorld(GeoPoint point, double zoom);
GeoPoint unprojectFromWorld(WorldPoint point, double zoom);

// Tile column modulo 2^z (the world repeats east-west).
int wrapTileX(int x, int z);
// The tile zoom for a camera zoom: the nearest level, clamped to the server's range.
int tileZoomFor(double zoom);

ScreenOffset screenFromGeo(const MapCamera& camera, GeoPoint point);
GeoPoint geoFromScreen(const MapCamera& camera, ScreenOffset offset);
// The camera after dragging the picture by a screen delta.
MapCamera pannedBy(const MapCamera& camera, ScreenOffset delta);
// The camera at `newZoom` with the point under `anchor` kept where it is.
MapCamera zoomedAround(const MapCamera& camera, ScreenOffset anchor, double newZoom);
// Bearing brought into [0, 360).
double normalisedBearing(double degrees);

// Ground resolution at a latitude (WGS-84 equator 40,075,016.686 m over 256 × 2^z pixels).
double metresPerPixel(double latitudeDeg, double zoom);

// A scale bar of a 1-2-5 length no longer than maxPixels: "500 m", "2 km".
struct ScaleBar {
    double metres = 0.0;
    double pixels = 0.0;
    std::string label{};
};
ScaleBar scaleBarFor(double metresPerPixel, double maxPixels);

// Graticule spacing in degrees for a view spanning `spanDeg`: a 1-2-5 step (with 15, 30 and
// 45 above 10 degrees) giving about four to ten lines.
double graticuleStepDeg(double spanDeg);

// The tile's address from a template with {z}, {x} and {y}.
std::string tileURL(std::string_view urlTemplate, TileKey tile);
// A folder name for a tile server's cache, from the template's host and port: "127.0.0.1_8080".
std::string tileCacheFolderName(std::string_view urlTemplate);

// The camera that shows every point with a margin: the centre of their bounds, the zoom at
// which they fill `fill` of the view (between minZoom and maxZoom, rounded down to halves).
// Absent for no points.
struct ViewSize {
    double width = 0.0;
    double height = 0.0;
};
std::optional<MapCamera> cameraFitting(std::span<const GeoPoint> points, ViewSize view, double fill,
                                       double minZoom, double maxZoom);
