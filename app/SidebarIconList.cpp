#include "SidebarIconList.h"

#include <imgui.h>

#include <cmath>
#include <numbers>
#include <string>

#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

void drawIcon(ImDrawList* d, SidebarSection section, ImVec2 c, ImU32 col) {
    switch (section) {
    case SidebarSection::radio:
        // A mast with waves either side.
        d->AddCircleFilled(ImVec2(c.x, c.y - 2), 2.8f, col);
        d->AddLine(ImVec2(c.x, c.y), ImVec2(c.x - 5, c.y + 10), col, 1.6f);
        d->AddLine(ImVec2(c.x, c.y), ImVec2(c.x + 5, c.y + 10), col, 1.6f);
        for (int k = 1; k <= 2; ++k) {
            const float r = 5.0f + 4.5f * static_cast<float>(k);
            d->PathArcTo(ImVec2(c.x, c.y - 2), r, kPi * 0.78f, kPi * 1.22f, 10);
            d->PathStroke(col, ImDrawFlags_None, 1.6f);
            d->PathArcTo(ImVec2(c.x, c.y - 2), r, -kPi * 0.22f, kPi * 0.22f, 10);
            d->PathStroke(col, ImDrawFlags_None, 1.6f);
        }
        break;
    case SidebarSection::stations:
        for (int k = -1; k <= 1; ++k) {
            const float y = c.y + static_cast<float>(k) * 6.0f;
            d->AddCircleFilled(ImVec2(c.x - 8, y), 1.8f, col);
            d->AddLine(ImVec2(c.x - 3, y), ImVec2(c.x + 10, y), col, 1.8f);
        }
        break;
    case SidebarSection::favorites:
        widgets::drawStar(d, c, 10.0f, col, false);
        break;
    case SidebarSection::scanner:
        d->AddCircle(c, 10.0f, col, 32, 1.6f);
        d->AddCircle(c, 5.0f, theme::withAlpha(col, 0.6f), 24, 1.2f);
        d->AddLine(c, ImVec2(c.x + 7.5f, c.y - 6.5f), col, 1.8f);
        d->AddCircleFilled(ImVec2(c.x + 4, c.y + 5), 1.8f, col);
        break;
    case SidebarSection::decoders:
        d->AddRect(ImVec2(c.x - 7, c.y - 7), ImVec2(c.x + 7, c.y + 7), col, 2.0f, ImDrawFlags_None, 1.6f);
        for (int k = -1; k <= 1; ++k) {
            const float o = static_cast<float>(k) * 4.5f;
            d->AddLine(ImVec2(c.x + o, c.y - 7), ImVec2(c.x + o, c.y - 11), col, 1.4f);
            d->AddLine(ImVec2(c.x + o, c.y + 7), ImVec2(c.x + o, c.y + 11), col, 1.4f);
            d->AddLine(ImVec2(c.x - 7, c.y + o), ImVec2(c.x - 11, c.y + o), col, 1.4f);
            d->AddLine(ImVec2(c.x + 7, c.y + o), ImVec2(c.x + 11, c.y + o), col, 1.4f);
        }
        d->AddRectFilled(ImVec2(c.x - 3, c.y - 3), ImVec2(c.x + 3, c.y + 3), col, 1.0f);
        break;
    case SidebarSection::recordings:
        d->AddCircle(c, 10.0f, col, 32, 1.6f);
        d->AddCircleFilled(c, 5.0f, theme::kBad);
        break;
    }
}

}  // namespace

bool drawSidebarIconList(SidebarSection& selected, UIProbe& probe) {
    bool changed = false;
    ImDrawList* d = ImGui::GetWindowDrawList();
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = 56.0f;
    for (SidebarSection section : kAllSidebarSections) {
        const std::string name(displayName(section));
        ImGui::PushID(name.c_str());
        const ImVec2 p = ImGui::GetCursorScreenPos();
        if (ImGui::InvisibleButton("##section", ImVec2(width, height)) && selected != section) {
            selected = section;
            changed = true;
        }
        probe.noteItem("section " + name);
        const bool on = selected == section;
        const bool hovered = ImGui::IsItemHovered();
        const ImVec2 q(p.x + width, p.y + height);
        if (on) {
            d->AddRectFilled(ImVec2(p.x + 6, p.y + 2), ImVec2(q.x - 6, q.y - 2), theme::withAlpha(theme::kAccent, 0.14f), 8.0f);
            d->AddRectFilled(ImVec2(p.x, p.y + 12), ImVec2(p.x + 3, q.y - 12), theme::kAccent, 2.0f);
        } else if (hovered) {
            d->AddRectFilled(ImVec2(p.x + 6, p.y + 2), ImVec2(q.x - 6, q.y - 2), IM_COL32(255, 255, 255, 10), 8.0f);
        }
        const ImU32 col = on ? theme::kAccent : (hovered ? theme::kText : theme::kTextDim);
        drawIcon(d, section, ImVec2(p.x + width / 2, p.y + 21), col);
        ImFont* small = theme::font(theme::FontRole::scale);
        const ImVec2 ts = small->CalcTextSizeA(small->FontSize, 1e9f, 0, name.c_str());
        d->AddText(small, small->FontSize, ImVec2(p.x + (width - ts.x) / 2, p.y + 38),
                   on ? theme::kText : theme::kTextDim, name.c_str());
        ImGui::PopID();
    }
    return changed;
}
