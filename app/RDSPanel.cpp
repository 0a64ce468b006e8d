#include "RDSPanel.h"

#include <imgui.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "rds/RDSTables.h"

namespace {

// "15:17  05.09.2018" in the station's local time; the offset goes to the tooltip.
std::string clockLine(const std::string& iso) {
    if (iso.size() < 25) return iso;  // 2018-09-05T15:17:00+01:00
    return iso.substr(11, 5) + "  " + iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
}

std::string frequencyList(const std::vector<int>& kHz) {
    std::string out;
    for (const int f : kHz) {
        char text[16];
        std::snprintf(text, sizeof text, "%s%.1f", out.empty() ? "" : "  ", f / 1000.0);
        out += text;
    }
    return out;
}

std::string receptionLine(const RDSGroupStatistics& s) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f groups/s  BLER %.0f %%", s.groupsPerSecond,
                  std::round(100.0 * s.blockErrorRate));
    return text;
}

void drawDetails(SDRController& c, UIProbe& probe) {
    const RDSProgrammeInfo& d = c.rdsDetails;
    const ImVec2 top = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x;
    if (!d.radioTextPlusTitle.empty() || !d.radioTextPlusArtist.empty()) {
        std::string playing = d.radioTextPlusArtist;
        if (!playing.empty() && !d.radioTextPlusTitle.empty()) playing += " – ";
        playing += d.radioTextPlusTitle;
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kAccent));
        ImGui::TextWrapped("%s", playing.c_str());
        ImGui::PopStyleColor();
        probe.noteItem("rdsRadioTextPlus");
    }
    widgets::badge("TP", theme::kGood, c.rdsTP);
    ImGui::SameLine(0, 6);
    widgets::badge("TA", theme::kWarn, c.rdsTA);
    if (d.music) {
        ImGui::SameLine(0, 6);
        widgets::badge(*d.music ? "MUSIC" : "SPEECH", theme::kAccent);
    }
    if (d.stereo) {
        ImGui::SameLine(0, 6);
        widgets::badge(*d.stereo ? "STEREO" : "MONO", theme::kAccent);
    }
    if (d.sendsVersionB) {
        ImGui::SameLine(0, 6);
        widgets::badge("B", theme::kTextDim);
    }
    if (!d.ptyName.empty()) widgets::valueRow("PTYN", d.ptyName);
    if (d.clockTime) {
        const std::string iso = d.clockTime->localISO8601();
        widgets::valueRow("Clock", clockLine(iso));
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("Station time, UTC%s", iso.size() >= 25 ? iso.c_str() + 19 : "");
    }
    if (d.pi && d.extendedCountryCode) {
        std::string country(rdsCountryCode(*d.pi, *d.extendedCountryCode));
        for (char& ch : country) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (!country.empty()) widgets::valueRow("Country", country);
    }
    if (d.languageCode) {
        const std::string language(rdsLanguageName(*d.languageCode));
        if (!language.empty()) widgets::valueRow("Language", language);
    }
    if (!d.alternativeFrequenciesKHz.empty()) {
        widgets::caption("Alternative frequencies, MHz");
        ImGui::TextWrapped("%s", frequencyList(d.alternativeFrequenciesKHz).c_str());
    }
    widgets::valueRow("Reception", receptionLine(c.rdsStatistics),
                      c.rdsStatistics.synced ? theme::kGood : theme::kTextDim);
    if (c.rdsPilotLocked) widgets::badge("PILOT LOCK", theme::kGood);
    probe.noteRect("rdsDetails", top, ImVec2(top.x + width, ImGui::GetCursorScreenPos().y));
}

}  // namespace

void drawRDSPanel(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("RDS");
    widgets::Card card("rds");
    const bool any = c.rdsStationName || c.rdsPICode || c.rdsProgramType || c.rdsRadioText;
    if (!any) {
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextFaint));
        ImGui::TextUnformatted("NO RDS DATA");
        ImGui::PopStyleColor();
        ctx.probe.noteItem("rdsPanel");
        return;
    }
    {
        theme::FontScope title(theme::FontRole::title);
        ImGui::TextUnformatted(c.rdsStationName.value_or("—").c_str());
    }
    ctx.probe.noteItem("rdsPanel");
    if (c.rdsPICode) {
        ImGui::SameLine();
        widgets::textRightAligned(("PI " + *c.rdsPICode).c_str(), theme::kTextDim);
    }
    if (c.rdsProgramType) widgets::caption(c.rdsProgramType->c_str());
    if (c.rdsRadioText && !c.rdsRadioText->empty()) ImGui::TextWrapped("%s", c.rdsRadioText->c_str());
    drawDetails(c, ctx.probe);
}
