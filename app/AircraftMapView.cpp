#include "AircraftMapView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <imgui_internal.h>

#include "Theme.h"
#include "UIProbe.h"
#include "platform/DebugLog.h"

namespace {

ImVec2 at(ImVec2 centre, ScreenOffset o) {
    return ImVec2(centre.x + static_cast<float>(o.dx), centre.y + static_cast<float>(o.dy));
}

// Liang–Barsky: the part of segment a–b inside the rectangle, if any.
bool clipSegment(ImVec2& a, ImVec2& b, ImVec2 min, ImVec2 max) {
    float t0 = 0.0f, t1 = 1.0f;
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float p[4] = {-dx, dx, -dy, dy};
    const float q[4] = {a.x - min.x, max.x - a.x, a.y - min.y, max.y - a.y};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0f) {
            if (q[k] < 0.0f) return false;
            continue;
        }
        const float t = q[k] / p[k];
        if (p[k] < 0.0f)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const ImVec2 a0 = a;
    a = ImVec2(a0.x + t0 * dx, a0.y + t0 * dy);
    b = ImVec2(a0.x + t1 * dx, a0.y + t1 * dy);
    return true;
}

std::string degreeLabel(double value, double step, bool latitude) {
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    const char hemisphere = latitude ? (value < 0 ? 'S' : 'N') : (value < 0 ? 'W' : 'E');
    return formatString("%.*f°%c", decimals, std::abs(value), hemisphere);
}

ImU32 altitudeColour(const ADSBAircraft& a) {
    if (!a.altitude) return theme::kTextDim;
    if (*a.altitude < 10'000) return IM_COL32(92, 214, 140, 255);
    if (*a.altitude < 25'000) return IM_COL32(86, 186, 255, 255);
    return IM_COL32(196, 150, 255, 255);
}

// The airplane outline, nose towards −y, as convex parts: fuselage, wings, tailplane.
void drawAirplane(ImDrawList* list, ImVec2 c, float headingDeg, ImU32 fill) {
    const float a = headingDeg * std::numbers::pi_v<float> / 180.0f;
    constexpr float kScale = 1.25f;
    const float cs = std::cos(a) * kScale, sn = std::sin(a) * kScale;
    const auto place = [&](float x, float y) { return ImVec2(c.x + x * cs - y * sn, c.y + x * sn + y * cs); };
    const ImVec2 fuselage[] = {place(0, -13), place(2.2f, -9), place(2.2f, 9), place(0, 11), place(-2.2f, 9), place(-2.2f, -9)};
    const ImVec2 wings[] = {place(-2, -4), place(2, -4), place(12, 2.5f), place(12, 4.5f), place(-12, 4.5f), place(-12, 2.5f)};
    const ImVec2 tail[] = {place(-1.5f, 6), place(1.5f, 6), place(5.5f, 10), place(5.5f, 11.5f), place(-5.5f, 11.5f), place(-5.5f, 10)};
    const ImU32 edge = IM_COL32(10, 14, 20, 220);
    for (const auto* part : {wings, tail}) {
        list->AddConvexPolyFilled(part, 6, fill);
        list->AddPolyline(part, 6, edge, ImDrawFlags_Closed, 1.0f);
    }
    list->AddConvexPolyFilled(fuselage, 6, fill);
    list->AddPolyline(fuselage, 6, edge, ImDrawFlags_Closed, 1.0f);
}

}  // namespace

std::vector<const ADSBAircraft*> placeableAircraft(std::span<const ADSBAircraft> aircraft) {
    std::vector<const ADSBAircraft*> out;
    for (const ADSBAircraft& a : aircraft)
        if (a.latitude && a.longitude) out.push_back(&a);
    return out;
}

std::string aircraftName(const ADSBAircraft& a) {
    return a.callsign && !a.callsign->empty() ? *a.callsign : a.icao;
}

std::optional<std::string> altitudeLabel(const ADSBAircraft& a) {
    if (!a.altitude) return std::nullopt;
    return formatString("%d ft", *a.altitude);
}

AircraftMapView::AircraftMapView(std::optional<MapTileSource> source, std::function<void()> wake, GeoPoint home)
    : cam{.center = home, .zoom = 8.0, .rotationDeg = 0.0},
      tiles(source, std::move(wake)),
      attribution(source ? source->attribution : std::string()) {}

void AircraftMapView::handleInput(ImVec2 viewMin, ImVec2 viewMax) {
    const ImGuiIO& io = ImGui::GetIO();
    const ImVec2 centre((viewMin.x + viewMax.x) / 2, (viewMin.y + viewMax.y) / 2);
    const ScreenOffset pointer{.dx = io.MousePos.x - centre.x, .dy = io.MousePos.y - centre.y};
    if (ImGui::IsItemHovered() && io.MouseWheel != 0.0f) {
        cam = zoomedAround(cam, pointer, cam.zoom + io.MouseWheel * 0.5);
        userMoved = true;
    }
    if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) {
        cam = zoomedAround(cam, pointer, cam.zoom + 1.0);
        userMoved = true;
    }
    if (!ImGui::IsItemActive() || (io.MouseDelta.x == 0.0f && io.MouseDelta.y == 0.0f)) return;
    const bool rotating = ImGui::IsMouseDown(ImGuiMouseButton_Right) || io.KeyCtrl;
    if (rotating) {
        cam.rotationDeg = normalisedBearing(cam.rotationDeg + io.MouseDelta.x * 0.4);
    } else if (ImGui::IsMouseDown(ImGuiMouseButton_Left)) {
        cam = pannedBy(cam, {.dx = io.MouseDelta.x, .dy = io.MouseDelta.y});
    }
    userMoved = true;
}

void AircraftMapView::drawGraticule(ImDrawList* list, ImVec2 viewMin, ImVec2 viewMax) const {
    const ImVec2 centre((viewMin.x + viewMax.x) / 2, (viewMin.y + viewMax.y) / 2);
    double minLat = 90, maxLat = -90, minLon = 1e9, maxLon = -1e9;
    const float w = viewMax.x - viewMin.x, h = viewMax.y - viewMin.y;
    for (int k = 0; k < 9; ++k) {
        const ScreenOffset o{.dx = (k % 3 - 1) * w / 2.0, .dy = (k / 3 - 1) * h / 2.0};
        GeoPoint g = geoFromScreen(cam, o);
        // Unwrap longitudes around the centre so a view across 180° stays one range.
        g.longitudeDeg = cam.center.longitudeDeg + std::remainder(g.longitudeDeg - cam.center.longitudeDeg, 360.0);
        minLat = std::min(minLat, g.latitudeDeg);
        maxLat = std::max(maxLat, g.latitudeDeg);
        minLon = std::min(minLon, g.longitudeDeg);
        maxLon = std::max(maxLon, g.longitudeDeg);
    }
    const double step = graticuleStepDeg(std::max(maxLat - minLat, (maxLon - minLon) * std::cos(cam.center.latitudeDeg * std::numbers::pi / 180.0)));
    const ImU32 line = tiles.isOnline() ? IM_COL32(20, 40, 70, 70) : IM_COL32(90, 120, 150, 70);
    const ImU32 label = tiles.isOnline() ? IM_COL32(30, 40, 60, 200) : IM_COL32(150, 170, 190, 200);
    ImFont* font = theme::font(theme::FontRole::scale);
    const ImVec2 inMin(viewMin.x + 4, viewMin.y + 4), inMax(viewMax.x - 4, viewMax.y - 4);
    const double lat0 = std::max(-kMaxMercatorLatitudeDeg, minLat - step), lat1 = std::min(kMaxMercatorLatitudeDeg, maxLat + step);
    int lines = 0;
    for (double lon = std::floor(minLon / step) * step; lon <= maxLon + step && lines < 60; lon += step, ++lines) {
        ImVec2 a = at(centre, screenFromGeo(cam, {.latitudeDeg = lat0, .longitudeDeg = lon}));
        ImVec2 b = at(centre, screenFromGeo(cam, {.latitudeDeg = lat1, .longitudeDeg = lon}));
        if (!clipSegment(a, b, inMin, inMax)) continue;
        list->AddLine(a, b, line, 1.0f);
        // Meridian labels along the top: the scale bar and attribution sit at the bottom.
        const ImVec2 end = a.y < b.y ? a : b;
        const std::string text = degreeLabel(std::remainder(lon, 360.0), step, false);
        list->AddText(font, font->FontSize, ImVec2(end.x + 3, end.y + 2), label, text.c_str());
    }
    lines = 0;
    for (double lat = std::floor(minLat / step) * step; lat <= maxLat + step && lines < 60; lat += step, ++lines) {
        if (std::abs(lat) > kMaxMercatorLatitudeDeg) continue;
        ImVec2 a = at(centre, screenFromGeo(cam, {.latitudeDeg = lat, .longitudeDeg = minLon - step}));
        ImVec2 b = at(centre, screenFromGeo(cam, {.latitudeDeg = lat, .longitudeDeg = maxLon + step}));
        if (!clipSegment(a, b, inMin, inMax)) continue;
        list->AddLine(a, b, line, 1.0f);
        const ImVec2 start = a.x < b.x ? a : b;
        const std::string text = degreeLabel(lat, step, true);
        list->AddText(font, font->FontSize, ImVec2(start.x + 3, start.y - font->FontSize - 2), label, text.c_str());
    }
}

void AircraftMapView::drawScaleBar(ImDrawList* list, ImVec2 viewMin, ImVec2 viewMax) const {
    const ScaleBar bar = scaleBarFor(metresPerPixel(cam.center.latitudeDeg, cam.zoom), 130.0);
    if (bar.pixels <= 0) return;
    const ImVec2 p(viewMin.x + 14, viewMax.y - 20);
    const float len = static_cast<float>(bar.pixels);
    ImFont* font = theme::font(theme::FontRole::scale);
    const ImVec2 ts = font->CalcTextSizeA(font->FontSize, 1e9f, 0, bar.label.c_str());
    list->AddRectFilled(ImVec2(p.x - 6, p.y - ts.y - 8), ImVec2(p.x + std::max(len, ts.x) + 8, p.y + 8), IM_COL32(12, 16, 22, 170), 4.0f);
    list->AddLine(p, ImVec2(p.x + len, p.y), theme::kText, 2.0f);
    list->AddLine(ImVec2(p.x, p.y - 5), ImVec2(p.x, p.y + 3), theme::kText, 2.0f);
    list->AddLine(ImVec2(p.x + len, p.y - 5), ImVec2(p.x + len, p.y + 3), theme::kText, 2.0f);
    list->AddText(font, font->FontSize, ImVec2(p.x, p.y - ts.y - 5), theme::kText, bar.label.c_str());
}

void AircraftMapView::drawAircraft(ImDrawList* list, std::span<const ADSBAircraft> aircraft, ImVec2 centre) {
    ImFont* bold = theme::font(theme::FontRole::bold);
    ImFont* small = theme::font(theme::FontRole::scale);
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const ADSBAircraft* hovered = nullptr;
    for (const ADSBAircraft* a : placeableAircraft(aircraft)) {
        const GeoPoint here{.latitudeDeg = *a->latitude, .longitudeDeg = *a->longitude};
        const ImU32 colour = altitudeColour(*a);
        // The track: the decoded positions, oldest first, up to the current one.
        std::vector<ImVec2> trail;
        for (const ADSBTrailPoint& t : a->trail)
            trail.push_back(at(centre, screenFromGeo(cam, {.latitudeDeg = t.latitudeDeg, .longitudeDeg = t.longitudeDeg})));
        const ImVec2 p = at(centre, screenFromGeo(cam, here));
        trail.push_back(p);
        if (trail.size() >= 2)
            list->AddPolyline(trail.data(), static_cast<int>(trail.size()), theme::withAlpha(colour, 0.75f), ImDrawFlags_None, 2.0f);
        const float heading = static_cast<float>(a->heading.value_or(0.0) + cam.rotationDeg);
        drawAirplane(list, p, heading, colour);

        const std::string name = aircraftName(*a);
        const std::optional<std::string> altitude = altitudeLabel(*a);
        const ImVec2 ns = bold->CalcTextSizeA(bold->FontSize, 1e9f, 0, name.c_str());
        const ImVec2 as = altitude ? small->CalcTextSizeA(small->FontSize, 1e9f, 0, altitude->c_str()) : ImVec2(0, 0);
        const ImVec2 box0(p.x + 14, p.y - 8);
        const ImVec2 box1(box0.x + std::max(ns.x, as.x) + 10, box0.y + ns.y + (altitude ? as.y + 2 : 0) + 6);
        list->AddRectFilled(box0, box1, IM_COL32(12, 16, 22, 200), 4.0f);
        list->AddRectFilled(box0, ImVec2(box0.x + 3, box1.y), colour, 2.0f);
        list->AddText(bold, bold->FontSize, ImVec2(box0.x + 6, box0.y + 3), theme::kText, name.c_str());
        if (altitude)
            list->AddText(small, small->FontSize, ImVec2(box0.x + 6, box0.y + 4 + ns.y), theme::kTextDim, altitude->c_str());
        if (std::hypot(mouse.x - p.x, mouse.y - p.y) < 14.0f) hovered = a;
    }
    if (hovered && ImGui::IsWindowHovered()) {
        ImGui::BeginTooltip();
        ImGui::Text("%s  (%s)", aircraftName(*hovered).c_str(), hovered->icao.c_str());
        if (hovered->altitude) ImGui::Text("Altitude %d ft", *hovered->altitude);
        if (hovered->groundSpeed) ImGui::Text("Speed %.0f kt", *hovered->groundSpeed);
        if (hovered->heading) ImGui::Text("Heading %03.0f°", *hovered->heading);
        if (hovered->verticalRate) ImGui::Text("Vertical %+d ft/min", *hovered->verticalRate);
        ImGui::Text("%.4f, %.4f", *hovered->latitude, *hovered->longitude);
        ImGui::EndTooltip();
    }
}

void AircraftMapView::drawControls(ImVec2 viewMin, ImVec2 viewMax, UIProbe& probe) {
    const float size = 30.0f;
    ImVec2 p(viewMax.x - size - 12, viewMin.y + 12);
    ImGui::PushStyleColor(ImGuiCol_Button, theme::colour(IM_COL32(18, 23, 30, 220)));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, theme::colour(IM_COL32(34, 42, 54, 240)));
    ImGui::SetCursorScreenPos(p);
    if (ImGui::Button("+##zoomIn", ImVec2(size, size))) {
        cam.zoom = std::min(cam.zoom + 1.0, static_cast<double>(kMaxTileZoom));
        userMoved = true;
    }
    probe.noteItem("mapZoomIn");
    ImGui::SetCursorScreenPos(ImVec2(p.x, p.y + size + 4));
    if (ImGui::Button("\xE2\x88\x92##zoomOut", ImVec2(size, size))) {
        cam.zoom = std::max(cam.zoom - 1.0, static_cast<double>(kMinTileZoom));
        userMoved = true;
    }
    probe.noteItem("mapZoomOut");
    // Compass: the needle points north; a click turns north up again.
    const ImVec2 c0(p.x, p.y + 2 * (size + 4));
    ImGui::SetCursorScreenPos(c0);
    if (ImGui::Button("##north", ImVec2(size, size))) cam.rotationDeg = 0.0;
    probe.noteItem("mapNorth");
    ImDrawList* list = ImGui::GetWindowDrawList();
    const ImVec2 cc(c0.x + size / 2, c0.y + size / 2);
    const float a = static_cast<float>(cam.rotationDeg) * std::numbers::pi_v<float> / 180.0f;
    const ImVec2 tip(cc.x + 10 * std::sin(a), cc.y - 10 * std::cos(a));
    const ImVec2 tail(cc.x - 10 * std::sin(a), cc.y + 10 * std::cos(a));
    const ImVec2 side(4 * std::cos(a), 4 * std::sin(a));
    list->AddTriangleFilled(tip, ImVec2(cc.x + side.x, cc.y + side.y), ImVec2(cc.x - side.x, cc.y - side.y), theme::kBad);
    list->AddTriangleFilled(tail, ImVec2(cc.x - side.x, cc.y - side.y), ImVec2(cc.x + side.x, cc.y + side.y), theme::kTextDim);
    ImGui::SetCursorScreenPos(ImVec2(p.x, c0.y + size + 4));
    {
        theme::FontScope small(theme::FontRole::small);
        if (ImGui::Button("Fit##fit", ImVec2(size, size))) userMoved = false;
    }
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Follow the aircraft");
    probe.noteItem("mapFit");
    ImGui::PopStyleColor(2);
}

void AircraftMapView::draw(const char* id, std::span<const ADSBAircraft> aircraft, ImVec2 size, UIProbe& probe) {
    ImGui::PushID(id);
    const ImVec2 viewMin = ImGui::GetCursorScreenPos();
    const ImVec2 viewMax(viewMin.x + size.x, viewMin.y + size.y);
    const ImVec2 centre((viewMin.x + viewMax.x) / 2, (viewMin.y + viewMax.y) / 2);
    ImGui::InvisibleButton("##map", size, ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight);
    ImGui::SetItemUsingMouseWheel();
    ImGui::SetItemAllowOverlap();
    probe.noteItem("map");
    handleInput(viewMin, viewMax);

    if (!userMoved) {
        std::vector<GeoPoint> points;
        for (const ADSBAircraft* a : placeableAircraft(aircraft))
            points.push_back({.latitudeDeg = *a->latitude, .longitudeDeg = *a->longitude});
        if (const std::optional<MapCamera> fit = cameraFitting(points, {.width = size.x, .height = size.y}, 0.7, 5.0, 11.0)) {
            cam.center = fit->center;
            cam.zoom = fit->zoom;
        }
    }

    ImDrawList* list = ImGui::GetWindowDrawList();
    list->PushClipRect(viewMin, viewMax, true);
    list->AddRectFilled(viewMin, viewMax, theme::kMapBackground);
    lastTilesDrawn = tiles.draw(list, cam, viewMin, viewMax);
    drawGraticule(list, viewMin, viewMax);
    drawAircraft(list, aircraft, centre);
    drawScaleBar(list, viewMin, viewMax);

    // Attribution (required by the tile server's licence) or the offline note.
    ImFont* font = theme::font(theme::FontRole::scale);
    const std::string note = tiles.isOnline() ? attribution : std::string("Offline map: graticule only");
    if (!note.empty()) {
        const ImVec2 ts = font->CalcTextSizeA(font->FontSize, 1e9f, 0, note.c_str());
        const ImVec2 b0(viewMax.x - ts.x - 12, viewMax.y - ts.y - 6);
        list->AddRectFilled(b0, viewMax, IM_COL32(255, 255, 255, tiles.isOnline() ? 190 : 30), 4.0f, ImDrawFlags_RoundCornersTopLeft);
        list->AddText(font, font->FontSize, ImVec2(b0.x + 6, b0.y + 3),
                      tiles.isOnline() ? IM_COL32(30, 36, 44, 255) : theme::kTextDim, note.c_str());
        probe.noteRect("mapAttribution", b0, viewMax);
    }
    list->PopClipRect();
    drawControls(viewMin, viewMax, probe);
    ImGui::SetCursorScreenPos(ImVec2(viewMin.x, viewMax.y));
    ImGui::Dummy(ImVec2(size.x, 0));
    ImGui::PopID();
}
