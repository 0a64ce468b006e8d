#include "StationRow.h"

#include <imgui.h>

#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"

StationRowResult drawStationRow(const char* id, const StationRowInput& row, UIProbe& probe,
                                const std::string& probeName) {
    StationRowResult result;
    ImGui::PushID(id);
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = 42.0f;
    const ImVec2 p = ImGui::GetCursorScreenPos();
    result.rowClicked = ImGui::InvisibleButton("##row", ImVec2(width, height));
    ImGui::SetItemAllowOverlap();
    probe.noteItem(probeName);
    const bool hovered = ImGui::IsItemHovered();
    if (row.offerRemove && ImGui::BeginPopupContextItem("rowMenu")) {
        if (ImGui::MenuItem("Remove")) result.removeRequested = true;
        ImGui::EndPopup();
    }
    ImDrawList* d = ImGui::GetWindowDrawList();
    const ImVec2 q(p.x + width, p.y + height);
    widgets::rowBackground(d, p, q, row.selected, hovered);

    ImGui::SetCursorScreenPos(ImVec2(p.x + 6, p.y + (height - 24) / 2));
    result.starClicked = widgets::starButton("##star", row.starOn, 24.0f);
    probe.noteItem("star " + probeName);

    ImFont* mono = theme::font(theme::FontRole::mono);
    const ImVec2 fs = mono->CalcTextSizeA(mono->FontSize, 1e9f, 0, row.frequencyText.c_str());
    const float textRight = q.x - fs.x - 18;
    d->PushClipRect(ImVec2(p.x + 36, p.y), ImVec2(textRight, q.y), true);
    ImFont* bold = theme::font(theme::FontRole::bold);
    d->AddText(bold, bold->FontSize, ImVec2(p.x + 38, p.y + 5), theme::kText, row.name.c_str());
    ImFont* small = theme::font(theme::FontRole::small);
    d->AddText(small, small->FontSize, ImVec2(p.x + 38, p.y + 24), theme::kTextDim, row.detail.c_str());
    d->PopClipRect();
    d->AddText(mono, mono->FontSize, ImVec2(q.x - fs.x - 10, p.y + (height - fs.y) / 2),
               row.selected ? theme::kAccent : theme::kText, row.frequencyText.c_str());

    ImGui::SetCursorScreenPos(ImVec2(p.x, q.y));
    ImGui::Dummy(ImVec2(width, 2));
    ImGui::PopID();
    // A star press is not also a row press.
    if (result.starClicked) result.rowClicked = false;
    return result;
}
