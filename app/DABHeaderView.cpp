#include "DABHeaderView.h"

#include <imgui.h>

#include <algorithm>

#include "SignalMeterView.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/LevelScale.h"
#include "platform/DebugLog.h"

void drawDABHeaderView(const DABHeaderInput& in, UIProbe& probe) {
    const float width = ImGui::GetContentRegionAvail().x;
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const float height = 78.0f;
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->AddRectFilled(origin, ImVec2(origin.x + width, origin.y + height), theme::kCard, 8.0f);
    probe.noteRect("dabHeader", origin, ImVec2(origin.x + width, origin.y + height));

    ImGui::SetCursorScreenPos(ImVec2(origin.x + 16, origin.y + 6));
    {
        theme::FontScope display(theme::FontRole::display);
        ImGui::Text("%.3f", in.frequencyMHz);
    }
    const ImVec2 fmax = ImGui::GetItemRectMax();
    {
        theme::FontScope small(theme::FontRole::small);
        list->AddText(ImVec2(fmax.x + 6, fmax.y - 22), theme::kTextDim, "MHz");
        list->AddText(ImVec2(fmax.x + 6, fmax.y - 38), theme::kAccent, in.mode.c_str());
    }

    const float textX = std::max(fmax.x + 54, origin.x + 230);
    const float meterWidth = std::clamp(width * 0.28f, 190.0f, 280.0f);
    const float textRight = origin.x + width - meterWidth - 28;
    ImGui::PushClipRect(ImVec2(textX, origin.y), ImVec2(textRight, origin.y + height), true);
    ImGui::SetCursorScreenPos(ImVec2(textX, origin.y + 8));
    {
        theme::FontScope title(theme::FontRole::title);
        if (!in.ensembleLabel.empty()) {
            ImGui::TextUnformatted(in.ensembleLabel.c_str());
        } else {
            ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextFaint));
            ImGui::TextUnformatted("Ensemble");
            ImGui::PopStyleColor();
        }
    }
    probe.noteItem("dabEnsembleLabel");
    // One calm line of facts: identifier, services, the playing service's rate and the status.
    std::string facts;
    if (in.ensembleIdHex) facts += "EId 0x" + *in.ensembleIdHex + "  ·  ";
    if (in.serviceCount > 0) facts += formatString("%d services  ·  ", in.serviceCount);
    if (in.bitRateKbps) facts += formatString("%d kbps  ·  ", *in.bitRateKbps);
    facts += in.statusText;
    ImGui::SetCursorScreenPos(ImVec2(textX, origin.y + 34));
    widgets::caption(facts.c_str());
    ImGui::PopClipRect();

    // Lock and the acquisition figures as badges.
    ImGui::SetCursorScreenPos(ImVec2(textX, origin.y + 52));
    widgets::badge(in.locked ? "LOCKED" : "ACQUIRING", in.locked ? theme::kGood : theme::kWarn);
    probe.noteItem("dabLock");
    ImGui::SameLine(0, 6);
    widgets::badge(formatString("PRS %.0f%%", in.prsCorrelation * 100.0f).c_str(), theme::kTextDim, in.locked);
    ImGui::SameLine(0, 6);
    widgets::badge(formatString("CFO %+.0f Hz", in.cfoHz).c_str(), theme::kTextDim, in.locked);
    ImGui::SameLine(0, 6);
    widgets::badge(formatString("FIC CRC %d/12", in.ficCRCCount).c_str(),
                   in.ficCRCCount >= 12 ? theme::kGood : theme::kWarn, in.locked);

    ImGui::SetCursorScreenPos(ImVec2(origin.x + width - meterWidth - 14, origin.y + 14));
    drawSignalMeterView("dabMeter", in.signalLevelDB, in.snrDB, kLevelScaleBottomDBFS, kLevelScaleTopDBFS, meterWidth);
    probe.noteRect("dabSignalMeter", ImVec2(origin.x + width - meterWidth - 14, origin.y + 14),
                   ImVec2(origin.x + width - 14, origin.y + 60));

    ImGui::SetCursorScreenPos(ImVec2(origin.x, origin.y + height));
    ImGui::Dummy(ImVec2(width, 0));
}
