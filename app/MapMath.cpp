#include "MapMath.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <numbers>

#include "platform/DebugLog.h"

namespace {

constexpr double kEquatorMetres = 40'075'016.686;

double radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

double degrees(double radiansValue) {
    return radiansValue * 180.0 / std::numbers::pi;
}

// Screen = R(bearing) · world, clockwise on a y-down screen.
ScreenOffset rotate(double x, double y, double bearingDeg) {
    const double a = radians(bearingDeg);
    const double c = std::cos(a), s = std::sin(a);
    return {.dx = x * c - y * s, .dy = x * s + y * c};
}

}  // namespace

double worldSizePixels(double zoom) {
    return kTileSizePixels * std::exp2(zoom);
}

WorldPoint projectToWorld(GeoPoint point, double zoom) {
    const double size = worldSizePixels(zoom);
    const double lat = radians(std::clamp(point.latitudeDeg, -kMaxMercatorLatitudeDeg,
                                          kMaxMercatorLatitudeDeg));
    const double x = (point.longitudeDeg + 180.0) / 360.0 * size;
    const double y = (1.0 - std::log(std::tan(lat) + 1.0 / std::cos(lat)) / std::numbers::pi) / 2.0 * size;
    return {.x = x, .y = y};
}

GeoPoint unprojectFromWorld(WorldPoint point, double zoom) {
    const double size = worldSizePixels(zoom);
    const double lon = point.x / size * 360.0 - 180.0;
    const double n = std::numbers::pi * (1.0 - 2.0 * point.y / size);
    return {.latitudeDeg = degrees(std::atan(std::sinh(n))), .longitudeDeg = lon};
}

int wrapTileX(int x, int z) {
    const int n = 1 << z;
    return ((x % n) + n) % n;
}

int tileZoomFor(double zoom) {
    return std::clamp(static_cast<int>(std::lround(zoom)), kMinTileZoom, kMaxTileZoom);
}

ScreenOffset screenFromGeo(const MapCamera& camera, GeoPoint point) {
    const WorldPoint c = projectToWorld(camera.center, camera.zoom);
    WorldPoint p = projectToWorld(point, camera.zoom);
    // The short way round the antimeridian.
    const double size = worldSizePixels(camera.zoom);
    double dx = p.x - c.x;
    if (dx > size / 2) dx -= size;
    if (dx < -size / 2) dx += size;
    return rotate(dx, p.y - c.y, camera.rotationDeg);
}

GeoPoint geoFromScreen(const MapCamera& camera, ScreenOffset offset) {
    const ScreenOffset w = rotate(offset.dx, offset.dy, -camera.rotationDeg);
    const WorldPoint c = projectToWorld(camera.center, camera.zoom);
    GeoPoint g = unprojectFromWorld({.x = c.x + w.dx, .y = c.y + w.dy}, camera.zoom);
    g.longitudeDeg = std::remainder(g.longitudeDeg, 360.0);
    if (g.longitudeDeg == 180.0) g.longitudeDeg = -180.0;
    return g;
}

MapCamera pannedBy(const MapCamera& camera, ScreenOffset delta) {
    MapCamera moved = camera;
    moved.center = geoFromScreen(camera, {.dx = -delta.dx, .dy = -delta.dy});
    moved.center.latitudeDeg = std::clamp(moved.center.latitudeDeg, -kMaxMercatorLatitudeDeg,
                                          kMaxMercatorLatitudeDeg);
    return moved;
}

MapCamera zoomedAround(const MapCamera& camera, ScreenOffset anchor, double newZoom) {
    const GeoPoint under = geoFromScreen(camera, anchor);
    MapCamera zoomed = camera;
    zoomed.zoom = std::clamp(newZoom, static_cast<double>(kMinTileZoom), static_cast<double>(kMaxTileZoom));
    // Move the centre so `under` lands on the anchor again.
    const ScreenOffset now = screenFromGeo(zoomed, under);
    return pannedBy(zoomed, {.dx = anchor.dx - now.dx, .dy = anchor.dy - now.dy});
}

double normalisedBearing(double deg) {
    const double r = std::fmod(deg, 360.0);
    return r < 0.0 ? r + 360.0 : r;
}

double metresPerPixel(double latitudeDeg, double zoom) {
    return kEquatorMetres * std::cos(radians(latitudeDeg)) / worldSizePixels(zoom);
}

ScaleBar scaleBarFor(double metresPerPixelValue, double maxPixels) {
    if (!(metresPerPixelValue > 0.0) || !(maxPixels > 0.0)) return {};
    const double maxMetres = metresPerPixelValue * maxPixels;
    double magnitude = std::pow(10.0, std::floor(std::log10(maxMetres)));
    double metres = magnitude;
    for (double m : {5.0, 2.0, 1.0}) {
        if (m * magnitude <= maxMetres) {
            metres = m * magnitude;
            break;
        }
    }
    const std::string label = metres >= 1'000.0 ? formatString("%g km", metres / 1'000.0)
                                                : formatString("%g m", metres);
    return {.metres = metres, .pixels = metres / metresPerPixelValue, .label = label};
}

double graticuleStepDeg(double spanDeg) {
    static constexpr std::array<double, 16> kSteps = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2,
                                                      0.5,   1.0,   2.0,   5.0,  10.0, 15.0, 30.0, 45.0};
    for (double step : kSteps)
        if (spanDeg / step <= 10.0) return step;
    return kSteps.back();
}

std::string tileURL(std::string_view urlTemplate, TileKey tile) {
    std::string out;
    out.reserve(urlTemplate.size() + 16);
    for (std::size_t i = 0; i < urlTemplate.size(); ++i) {
        const std::string_view rest = urlTemplate.substr(i);
        if (rest.starts_with("{z}")) {
            out += std::to_string(tile.z);
        } else if (rest.starts_with("{x}")) {
            out += std::to_string(tile.x);
        } else if (rest.starts_with("{y}")) {
            out += std::to_string(tile.y);
        } else {
            out += urlTemplate[i];
            continue;
        }
        i += 2;
    }
    return out;
}

std::string tileCacheFolderName(std::string_view urlTemplate) {
    std::string_view rest = urlTemplate;
    if (const auto scheme = rest.find("://"); scheme != std::string_view::npos)
        rest.remove_prefix(scheme + 3);
    rest = rest.substr(0, rest.find('/'));
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
    std::string name;
    for (char ch : rest) {
        const unsigned char c = static_cast<unsigned char>(ch);
        name += std::isalnum(c) || ch == '.' || ch == '-' ? static_cast<char>(std::tolower(c)) : '_';
    }
    if (name.empty() || name == "." || name == "..") name = "default";
    return name;
}

std::optional<MapCamera> cameraFitting(std::span<const GeoPoint> points, ViewSize view, double fill,
                                       double minZoom, double maxZoom) {
    if (points.empty()) return std::nullopt;
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const GeoPoint& p : points) {
        const WorldPoint w = projectToWorld(p, 0.0);
        minX = std::min(minX, w.x);
        maxX = std::max(maxX, w.x);
        minY = std::min(minY, w.y);
        maxY = std::max(maxY, w.y);
    }
    const double spanX = std::max(maxX - minX, 1e-9), spanY = std::max(maxY - minY, 1e-9);
    const double zoomX = std::log2(view.width * fill / spanX);
    const double zoomY = std::log2(view.height * fill / spanY);
    const double zoom = std::clamp(std::floor(std::min(zoomX, zoomY) * 2.0) / 2.0, minZoom, maxZoom);
    return MapCamera{.center = unprojectFromWorld({.x = (minX + maxX) / 2, .y = (minY + maxY) / 2}, 0.0),
                     .zoom = zoom,
                     .rotationDeg = 0.0};
}
