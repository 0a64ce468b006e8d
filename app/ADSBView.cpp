#include "ADSBView.h"

#include <algorithm>
#include <chrono>

#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

void drawTable(const SDRController& c, ImVec2 size) {
    const ImGuiTableFlags flags = ImGuiTableFlags_RowBg | ImGuiTableFlags_ScrollY | ImGuiTableFlags_BordersInnerH |
                                  ImGuiTableFlags_SizingStretchProp;
    if (!ImGui::BeginTable("aircraft", 8, flags, size)) return;
    ImGui::TableSetupScrollFreeze(0, 1);
    for (const char* h : {"Flight", "ICAO", "Altitude", "Speed", "Track", "Vertical", "Position", "Seen"})
        ImGui::TableSetupColumn(h);
    ImGui::TableHeadersRow();
    const auto now = std::chrono::system_clock::now();
    for (const ADSBAircraft& a : c.adsbAircraft) {
        ImGui::TableNextRow();
        ImGui::TableNextColumn();
        {
            theme::FontScope bold(theme::FontRole::bold);
            ImGui::TextUnformatted(a.callsign.value_or("—").c_str());
        }
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(a.icao.c_str());
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(a.altitude ? formatString("%d ft", *a.altitude).c_str() : "—");
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(a.groundSpeed ? formatString("%.0f kt", *a.groundSpeed).c_str() : "—");
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(a.heading ? formatString("%03.0f°", *a.heading).c_str() : "—");
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(a.verticalRate ? formatString("%+d ft/min", *a.verticalRate).c_str() : "—");
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(a.latitude && a.longitude ? formatString("%.3f, %.3f", *a.latitude, *a.longitude).c_str() : "—");
        ImGui::TableNextColumn();
        const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - a.lastSeen).count();
        ImGui::TextUnformatted(formatString("%llds", static_cast<long long>(std::max<long long>(age, 0))).c_str());
    }
    ImGui::EndTable();
}

}  // namespace

void ADSBView::draw(PanelContext& ctx, ImVec2 size) {
    const SDRController& c = ctx.controller;
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    {
        theme::FontScope title(theme::FontRole::title);
        ImGui::TextUnformatted("ADS-B  1090 MHz");
    }
    ImGui::SameLine();
    const std::size_t placed = placeableAircraft(c.adsbAircraft).size();
    widgets::caption(formatString("%zu aircraft, %zu on the map", c.adsbAircraft.size(), placed).c_str());
    if (!c.adsbDebugInfo.empty()) {
        ImGui::SameLine();
        ImGui::SetCursorPosX(ImGui::GetCursorPosX() + 12);
        widgets::caption(c.adsbDebugInfo.c_str());
    }
    const float used = ImGui::GetCursorScreenPos().y - origin.y;
    // The feeds row keeps its place at the foot; the table takes room only once there are
    // aircraft to list, and the map the rest.
    const float feedsHeight = ADSBFeedControls::height() + 8.0f;
    const float tableHeight = c.adsbAircraft.empty() ? 28.0f : std::clamp(size.y * 0.26f, 120.0f, 220.0f);
    const float mapHeight = std::max(size.y - used - tableHeight - feedsHeight - 10.0f, 160.0f);
    map.draw("map", c.adsbAircraft, ImVec2(size.x, mapHeight), ctx.probe);
    ImGui::Dummy(ImVec2(0, 4));
    if (c.adsbAircraft.empty()) {
        widgets::caption(c.isRunning ? "Searching for aircraft..." : "Start the receiver to hear aircraft.");
        ImGui::Dummy(ImVec2(0, tableHeight - ImGui::GetTextLineHeightWithSpacing()));
    } else {
        drawTable(c, ImVec2(size.x, tableHeight));
        ctx.probe.noteItem("aircraftTable");
    }
    ImGui::Dummy(ImVec2(0, 4));
    feeds.draw(ctx.probe);
}
