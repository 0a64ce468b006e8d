#include "DABRow.h"

#include <imgui.h>

#include <algorithm>

#include "GLTexture.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"

namespace {

// The first letter of the name (whole UTF-8 sequence) as a stand-in for a missing logo.
std::string monogram(const std::string& name) {
    if (name.empty()) return "?";
    std::size_t n = 1;
    while (n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) ++n;
    return name.substr(0, n);
}

}  // namespace

bool drawDABRow(const char* id, const DABRowInput& row, UIProbe& probe, const std::string& probeName) {
    ImGui::PushID(id);
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = 42.0f;
    const ImVec2 p = ImGui::GetCursorScreenPos();
    ImGui::BeginDisabled(!row.enabled);
    const bool clicked = ImGui::InvisibleButton("##row", ImVec2(width, height));
    ImGui::EndDisabled();
    probe.noteItem(probeName);
    const bool hovered = row.enabled && ImGui::IsItemHovered();
    ImDrawList* d = ImGui::GetWindowDrawList();
    const ImVec2 q(p.x + width, p.y + height);
    widgets::rowBackground(d, p, q, row.selected, hovered);

    const float side = 30.0f;
    const ImVec2 a(p.x + 8, p.y + (height - side) / 2);
    const ImVec2 b(a.x + side, a.y + side);
    if (!row.showPicture) {
        // A level dot: filled in proportion to the channel's signal.
        const ImVec2 c((a.x + b.x) / 2, (a.y + b.y) / 2);
        d->AddCircle(c, 7.0f, theme::withAlpha(theme::kTextFaint, 0.8f), 16, 1.2f);
        const float level = std::clamp(row.level, 0.0f, 1.0f);
        if (level > 0.0f) d->AddCircleFilled(c, 1.5f + 5.5f * level, level > 0.5f ? theme::kGood : theme::kWarn, 16);
    } else if (row.logo != nullptr && row.logo->isValid()) {
        d->AddRectFilled(a, b, IM_COL32(255, 255, 255, 235), 5.0f);
        d->AddImageRounded(row.logo->textureID(), ImVec2(a.x + 1, a.y + 1), ImVec2(b.x - 1, b.y - 1), ImVec2(0, 0),
                           ImVec2(1, 1), IM_COL32_WHITE, 4.0f);
        probe.noteRect("logo " + probeName, a, b);
    } else {
        d->AddRectFilled(a, b, row.selected ? theme::kAccentDeep : IM_COL32(36, 44, 56, 255), 5.0f);
        const std::string letter = monogram(row.name);
        ImFont* bold = theme::font(theme::FontRole::bold);
        const ImVec2 ls = bold->CalcTextSizeA(bold->FontSize, 1e9f, 0, letter.c_str());
        d->AddText(bold, bold->FontSize, ImVec2(a.x + (side - ls.x) / 2, a.y + (side - ls.y) / 2),
                   row.selected ? theme::kText : theme::kTextDim, letter.c_str());
    }

    ImFont* mono = theme::font(theme::FontRole::mono);
    const ImVec2 vs = mono->CalcTextSizeA(mono->FontSize, 1e9f, 0, row.valueText.c_str());
    const float textLeft = b.x + 10;
    const float textRight = q.x - vs.x - 18;
    const ImU32 nameColour = row.enabled ? theme::kText : theme::kTextDim;
    d->PushClipRect(ImVec2(textLeft, p.y), ImVec2(textRight, q.y), true);
    ImFont* bold = theme::font(theme::FontRole::bold);
    d->AddText(bold, bold->FontSize, ImVec2(textLeft, p.y + 5), nameColour, row.name.c_str());
    ImFont* small = theme::font(theme::FontRole::small);
    d->AddText(small, small->FontSize, ImVec2(textLeft, p.y + 24), theme::kTextDim, row.detail.c_str());
    d->PopClipRect();
    d->AddText(mono, mono->FontSize, ImVec2(q.x - vs.x - 10, p.y + (height - vs.y) / 2),
               row.selected ? theme::kAccent : theme::kTextDim, row.valueText.c_str());

    ImGui::SetCursorScreenPos(ImVec2(p.x, q.y));
    ImGui::Dummy(ImVec2(width, 2));
    ImGui::PopID();
    return clicked && row.enabled;
}
