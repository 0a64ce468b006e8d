#include "DecodersPanel.h"

#include <imgui.h>

#include <chrono>
#include <ctime>

#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

std::string orDash(const std::optional<std::string>& text) {
    return text && !text->empty() ? *text : "—";
}

void drawRDS(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::Card card("rds");
    bool enabled = c.rdsEnabled();
    if (widgets::toggleSwitch("RDS (FM station name)", &enabled)) c.setRdsEnabled(enabled);
    ctx.probe.noteItem("rdsSwitch");
    if (!enabled) return;
    const bool any = c.rdsStationName || c.rdsPICode || c.rdsRadioText || c.rdsProgramType;
    if (!any) {
        widgets::caption("NO RDS DATA");
        return;
    }
    widgets::valueRow("Station", orDash(c.rdsStationName));
    widgets::valueRow("Program (PTY)", orDash(c.rdsProgramType));
    widgets::valueRow("PI", orDash(c.rdsPICode));
    widgets::valueRow("TP", c.rdsTP ? "Yes" : "No");
    widgets::valueRow("TA", c.rdsTA ? "Yes" : "No");
    widgets::caption("RadioText");
    ImGui::TextWrapped("%s", orDash(c.rdsRadioText).c_str());
}

void drawADSB(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::Card card("adsb");
    {
        theme::FontScope bold(theme::FontRole::bold);
        ImGui::TextUnformatted("ADS-B (Aircraft)");
    }
    bool enabled = c.adsbEnabled();
    if (widgets::toggleSwitch("Enabled (1090 MHz)", &enabled)) {
        c.setADSBEnabled(enabled);
        // Aircraft are heard only with the receiver running.
        if (enabled && !c.isRunning) c.start();
    }
    ctx.probe.noteItem("adsbSwitch");
    if (!enabled) return;
    if (c.adsbAircraft.empty()) {
        widgets::caption("Searching for aircraft...");
        return;
    }
    for (const ADSBAircraft& a : c.adsbAircraft) {
        ImGui::PushID(a.icao.c_str());
        {
            theme::FontScope bold(theme::FontRole::bold);
            ImGui::TextUnformatted(a.callsign.value_or(a.icao).c_str());
        }
        ImGui::SameLine();
        widgets::textRightAligned(a.altitude ? formatString("%d ft", *a.altitude).c_str() : "— ft", theme::kText);
        std::string detail = a.icao;
        if (a.groundSpeed) detail += formatString("  ·  %.0f kt", *a.groundSpeed);
        if (a.heading) detail += formatString("  ·  %03.0f°", *a.heading);
        if (!a.latitude || !a.longitude) detail += "  ·  no position";
        widgets::caption(detail.c_str());
        ImGui::PopID();
    }
}

std::string clockText(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    return formatString("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
}

void drawAPRS(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::Card card("aprs");
    bool enabled = c.aprsEnabled;
    if (widgets::toggleSwitch("APRS", &enabled)) c.aprsEnabled = enabled;
    ctx.probe.noteItem("aprsSwitch");
    if (!enabled) return;
    if (c.aprsPackets.empty()) {
        widgets::caption("Searching for packets...");
        widgets::captionWrapped("APRS is heard on 144.800 MHz in NFM.");
        return;
    }
    for (const APRSPacket& p : c.aprsPackets) {
        ImGui::PushID(p.id.c_str());
        {
            theme::FontScope bold(theme::FontRole::bold);
            ImGui::TextUnformatted(p.sourceCallsign.c_str());
        }
        ImGui::SameLine();
        widgets::textRightAligned(clockText(p.timestamp).c_str(), theme::kTextDim);
        std::string detail = "> " + p.destCallsign;
        if (p.latitude && p.longitude) detail += formatString("  ·  %.4f, %.4f", *p.latitude, *p.longitude);
        widgets::caption(detail.c_str());
        const std::string text = p.comment.value_or(p.informationField);
        if (!text.empty()) {
            theme::FontScope small(theme::FontRole::small);
            ImGui::TextWrapped("%s", text.c_str());
        }
        ImGui::PopID();
    }
}

}  // namespace

void drawDecodersPanel(PanelContext& ctx) {
    widgets::sectionTitle("DECODERS");
    drawRDS(ctx);
    drawADSB(ctx);
    drawAPRS(ctx);
}
