#include "RDSPanel.h"

#include <imgui.h>

#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"

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
    widgets::badge("TP", theme::kGood, c.rdsTP);
    ImGui::SameLine(0, 6);
    widgets::badge("TA", theme::kWarn, c.rdsTA);
}
