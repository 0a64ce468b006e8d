#include "Widgets.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>

#include <imgui_internal.h>

#include "Theme.h"

namespace widgets {

using theme::FontRole;
using theme::FontScope;

void sectionTitle(const char* text) {
    ImGui::Dummy(ImVec2(0, 4));
    FontScope bold(FontRole::small);
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
    std::string upper(text);
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ImGui::TextUnformatted(upper.c_str());
    ImGui::PopStyleColor();
}

void caption(const char* text) {
    FontScope small(FontRole::small);
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

void captionWrapped(const char* text) {
    FontScope small(FontRole::small);
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
    ImGui::TextWrapped("%s", text);
    ImGui::PopStyleColor();
}

void chip(const char* label, const std::string& value, ImU32 accent) {
    ImDrawList* list = ImGui::GetWindowDrawList();
    ImFont* small = theme::font(FontRole::small);
    ImFont* mono = theme::font(FontRole::mono);
    const ImVec2 labelSize = small->CalcTextSizeA(small->FontSize, 1e9f, 0, label);
    const ImVec2 valueSize = mono->CalcTextSizeA(mono->FontSize, 1e9f, 0, value.c_str());
    const float padX = 9.0f, gap = 6.0f, height = 26.0f;
    const ImVec2 size(padX * 2 + labelSize.x + gap + valueSize.x, height);
    const ImVec2 p = ImGui::GetCursorScreenPos();
    list->AddRectFilled(p, ImVec2(p.x + size.x, p.y + size.y), theme::kCard, 6.0f);
    list->AddRect(p, ImVec2(p.x + size.x, p.y + size.y), theme::kBorder, 6.0f);
    list->AddText(small, small->FontSize, ImVec2(p.x + padX, p.y + (height - labelSize.y) / 2),
                  theme::kTextDim, label);
    list->AddText(mono, mono->FontSize,
                  ImVec2(p.x + padX + labelSize.x + gap, p.y + (height - valueSize.y) / 2), accent,
                  value.c_str());
    ImGui::Dummy(size);
}

bool toggleSwitch(const char* label, bool* value) {
    ImGui::PushID(label);
    const float height = 18.0f, width = 32.0f;
    const ImVec2 start = ImGui::GetCursorScreenPos();
    const float rowWidth = ImGui::GetContentRegionAvail().x;
    const float rowHeight = std::max(height, ImGui::GetTextLineHeight()) + 4.0f;
    const bool pressed = ImGui::InvisibleButton("##switch", ImVec2(rowWidth, rowHeight));
    if (pressed) *value = !*value;
    const bool hovered = ImGui::IsItemHovered();
    ImDrawList* list = ImGui::GetWindowDrawList();
    const char* labelEnd = ImGui::FindRenderedTextEnd(label);
    list->AddText(ImVec2(start.x, start.y + (rowHeight - ImGui::GetTextLineHeight()) / 2),
                  theme::kText, label, labelEnd);
    const ImVec2 s0(start.x + rowWidth - width, start.y + (rowHeight - height) / 2);
    const ImVec2 s1(s0.x + width, s0.y + height);
    const ImU32 track = *value ? theme::kAccent : (hovered ? IM_COL32(62, 74, 90, 255) : IM_COL32(50, 60, 74, 255));
    list->AddRectFilled(s0, s1, track, height / 2);
    const float knobX = *value ? s1.x - height / 2 : s0.x + height / 2;
    list->AddCircleFilled(ImVec2(knobX, s0.y + height / 2), height / 2 - 2.5f, IM_COL32(245, 247, 250, 255));
    ImGui::PopID();
    return pressed;
}

bool segmented(const char* id, std::span<const char* const> labels, int* selected, float width) {
    ImGui::PushID(id);
    const float total = width > 0 ? width : ImGui::GetContentRegionAvail().x;
    const int n = static_cast<int>(labels.size());
    const float each = std::floor(total / static_cast<float>(std::max(n, 1)));
    const float height = ImGui::GetFrameHeight();
    ImDrawList* list = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    list->AddRectFilled(origin, ImVec2(origin.x + each * n, origin.y + height), IM_COL32(30, 37, 47, 255), 6.0f);
    bool changed = false;
    for (int k = 0; k < n; ++k) {
        if (k > 0) ImGui::SameLine(0, 0);
        ImGui::PushID(k);
        const ImVec2 p = ImGui::GetCursorScreenPos();
        if (ImGui::InvisibleButton("##seg", ImVec2(each, height)) && *selected != k) {
            *selected = k;
            changed = true;
        }
        const bool on = *selected == k;
        const bool hovered = ImGui::IsItemHovered();
        const ImVec2 q(p.x + each, p.y + height);
        if (on)
            list->AddRectFilled(ImVec2(p.x + 2, p.y + 2), ImVec2(q.x - 2, q.y - 2), theme::kAccentDeep, 5.0f);
        else if (hovered)
            list->AddRectFilled(ImVec2(p.x + 2, p.y + 2), ImVec2(q.x - 2, q.y - 2), IM_COL32(44, 55, 70, 255), 5.0f);
        const ImVec2 ts = ImGui::CalcTextSize(labels[static_cast<std::size_t>(k)]);
        list->AddText(ImVec2(p.x + (each - ts.x) / 2, p.y + (height - ts.y) / 2),
                      on ? theme::kText : theme::kTextDim, labels[static_cast<std::size_t>(k)]);
        ImGui::PopID();
    }
    ImGui::PopID();
    return changed;
}

bool pillButton(const char* label, bool on, ImVec2 size) {
    ImGui::PushStyleColor(ImGuiCol_Button, on ? theme::colour(theme::kAccentDeep) : theme::colour(IM_COL32(34, 42, 54, 255)));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, on ? theme::colour(IM_COL32(36, 92, 140, 255)) : theme::colour(IM_COL32(44, 55, 70, 255)));
    ImGui::PushStyleColor(ImGuiCol_Text, on ? theme::colour(IM_COL32(200, 230, 255, 255)) : theme::colour(theme::kTextDim));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 12.0f);
    const bool pressed = ImGui::Button(label, size);
    ImGui::PopStyleVar();
    ImGui::PopStyleColor(3);
    return pressed;
}

bool primaryButton(const char* label, ImVec2 size, ImU32 fill) {
    const ImU32 base = fill != 0 ? fill : theme::kAccent;
    ImVec4 c = theme::colour(base);
    ImVec4 hover(std::min(c.x * 1.12f, 1.0f), std::min(c.y * 1.12f, 1.0f), std::min(c.z * 1.12f, 1.0f), 1.0f);
    ImVec4 active(c.x * 0.85f, c.y * 0.85f, c.z * 0.85f, 1.0f);
    ImGui::PushStyleColor(ImGuiCol_Button, c);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, hover);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, active);
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(IM_COL32(255, 255, 255, 255)));
    const bool pressed = ImGui::Button(label, size);
    ImGui::PopStyleColor(4);
    return pressed;
}

void divider() {
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x;
    ImGui::Dummy(ImVec2(width, 5));
    ImGui::GetWindowDrawList()->AddLine(ImVec2(p.x, p.y + 2), ImVec2(p.x + width, p.y + 2), theme::kBorder);
}

void valueRow(const char* label, const std::string& value, ImU32 valueColour) {
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
    ImGui::TextUnformatted(label);
    ImGui::PopStyleColor();
    ImGui::SameLine();
    textRightAligned(value.c_str(), valueColour != 0 ? valueColour : theme::kText);
}

void textRightAligned(const char* text, ImU32 colour) {
    const float w = ImGui::CalcTextSize(text).x;
    const float right = ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x;
    ImGui::SetCursorPosX(std::max(ImGui::GetCursorPosX(), right - w));
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(colour));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

void drawStar(ImDrawList* list, ImVec2 c, float r, ImU32 colour, bool filled) {
    ImVec2 points[10];
    for (int k = 0; k < 10; ++k) {
        const float radius = k % 2 == 0 ? r : r * 0.42f;
        const float a = -std::numbers::pi_v<float> / 2 + static_cast<float>(k) * std::numbers::pi_v<float> / 5;
        points[k] = ImVec2(c.x + radius * std::cos(a), c.y + radius * std::sin(a));
    }
    if (filled) {
        // A star is not convex: fill the pentagon core and the five tips.
        ImVec2 inner[5];
        for (int k = 0; k < 5; ++k) inner[k] = points[2 * k + 1];
        list->AddConvexPolyFilled(inner, 5, colour);
        for (int k = 0; k < 5; ++k)
            list->AddTriangleFilled(points[2 * k], points[(2 * k + 1) % 10], points[(2 * k + 9) % 10], colour);
    } else {
        list->AddPolyline(points, 10, colour, ImDrawFlags_Closed, 1.4f);
    }
}

bool starButton(const char* id, bool on, float size) {
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const bool pressed = ImGui::InvisibleButton(id, ImVec2(size, size));
    const bool hovered = ImGui::IsItemHovered();
    const ImU32 colour = on ? theme::kStar : (hovered ? theme::kText : theme::kTextFaint);
    drawStar(ImGui::GetWindowDrawList(), ImVec2(p.x + size / 2, p.y + size / 2 + 0.5f), size * 0.42f, colour, on);
    return pressed;
}

void badge(const char* text, ImU32 colour, bool on) {
    ImFont* small = theme::font(FontRole::small);
    const ImVec2 ts = small->CalcTextSizeA(small->FontSize, 1e9f, 0, text);
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const ImVec2 size(ts.x + 12, ts.y + 6);
    ImDrawList* list = ImGui::GetWindowDrawList();
    const ImU32 shown = on ? colour : theme::kTextFaint;
    list->AddRectFilled(p, ImVec2(p.x + size.x, p.y + size.y), theme::withAlpha(shown, on ? 0.16f : 0.08f), 4.0f);
    list->AddRect(p, ImVec2(p.x + size.x, p.y + size.y), theme::withAlpha(shown, on ? 0.7f : 0.35f), 4.0f);
    list->AddText(small, small->FontSize, ImVec2(p.x + 6, p.y + 3), shown, text);
    ImGui::Dummy(size);
}

Card::Card(const char* id, float pad) : padding(pad) {
    ImGui::PushID(id);
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->ChannelsSplit(2);
    list->ChannelsSetCurrent(1);
    start = ImGui::GetCursorScreenPos();
    width = ImGui::GetContentRegionAvail().x;
    // Narrow the column to the card's inside so full-width items, wrapping and right-aligned
    // values stay within the padding.
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    savedContentMaxX = window->ContentRegionRect.Max.x;
    savedWorkMaxX = window->WorkRect.Max.x;
    window->ContentRegionRect.Max.x = start.x + width - padding;
    window->WorkRect.Max.x = start.x + width - padding;
    ImGui::Indent(padding);
    ImGui::SetCursorScreenPos(ImVec2(start.x + padding, start.y + padding));
    ImGui::PushItemWidth(-FLT_MIN);
}

Card::~Card() {
    ImGui::PopItemWidth();
    const float spacing = ImGui::GetStyle().ItemSpacing.y;
    const ImVec2 end(start.x + width, ImGui::GetCursorScreenPos().y - spacing + padding);
    ImGui::Unindent(padding);
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    window->ContentRegionRect.Max.x = savedContentMaxX;
    window->WorkRect.Max.x = savedWorkMaxX;
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->ChannelsSetCurrent(0);
    list->AddRectFilled(start, end, theme::kCard, 8.0f);
    list->AddRect(start, end, IM_COL32(255, 255, 255, 12), 8.0f);
    list->ChannelsMerge();
    ImGui::SetCursorScreenPos(ImVec2(start.x, end.y));
    ImGui::Dummy(ImVec2(width, 0));
    ImGui::PopID();
}

void rowBackground(ImDrawList* list, ImVec2 min, ImVec2 max, bool selected, bool hovered) {
    if (selected) {
        list->AddRectFilled(min, max, theme::withAlpha(theme::kAccent, 0.15f), 7.0f);
        list->AddRectFilled(ImVec2(min.x, min.y + 9), ImVec2(min.x + 3, max.y - 9), theme::kAccent, 2.0f);
    } else if (hovered) {
        list->AddRectFilled(min, max, theme::kCardHover, 7.0f);
    }
}

}  // namespace widgets
