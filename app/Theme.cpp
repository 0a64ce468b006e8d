#include "Theme.h"

namespace theme {

ImFont* font(FontRole role) {
    const ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    const int index = static_cast<int>(role);
    if (index < atlas->Fonts.Size) return atlas->Fonts[index];
    return atlas->Fonts.Size > 0 ? atlas->Fonts[0] : nullptr;
}

ImVec4 colour(ImU32 packed) {
    return ImGui::ColorConvertU32ToFloat4(packed);
}

ImU32 withAlpha(ImU32 packed, float alpha) {
    ImVec4 c = colour(packed);
    c.w = alpha;
    return ImGui::ColorConvertFloat4ToU32(c);
}

void apply() {
    ImGui::StyleColorsDark();
    ImGuiStyle& s = ImGui::GetStyle();
    s.WindowPadding = ImVec2(0, 0);
    s.FramePadding = ImVec2(8, 5);
    s.ItemSpacing = ImVec2(8, 6);
    s.ItemInnerSpacing = ImVec2(6, 4);
    s.CellPadding = ImVec2(6, 3);
    s.ScrollbarSize = 10;
    s.GrabMinSize = 10;
    s.WindowBorderSize = 0;
    s.ChildBorderSize = 0;
    s.PopupBorderSize = 1;
    s.FrameBorderSize = 0;
    s.WindowRounding = 0;
    s.ChildRounding = 0;
    s.FrameRounding = 5;
    s.PopupRounding = 8;
    s.ScrollbarRounding = 5;
    s.GrabRounding = 5;
    s.TabRounding = 5;

    ImVec4* c = s.Colors;
    c[ImGuiCol_Text] = colour(kText);
    c[ImGuiCol_TextDisabled] = colour(kTextFaint);
    c[ImGuiCol_WindowBg] = colour(kWindow);
    c[ImGuiCol_ChildBg] = ImVec4(0, 0, 0, 0);
    c[ImGuiCol_PopupBg] = colour(IM_COL32(22, 27, 35, 250));
    c[ImGuiCol_Border] = colour(kBorder);
    c[ImGuiCol_FrameBg] = colour(IM_COL32(30, 37, 47, 255));
    c[ImGuiCol_FrameBgHovered] = colour(IM_COL32(38, 47, 60, 255));
    c[ImGuiCol_FrameBgActive] = colour(IM_COL32(44, 55, 70, 255));
    c[ImGuiCol_Button] = colour(IM_COL32(34, 42, 54, 255));
    c[ImGuiCol_ButtonHovered] = colour(IM_COL32(44, 55, 70, 255));
    c[ImGuiCol_ButtonActive] = colour(kAccentDeep);
    c[ImGuiCol_Header] = colour(IM_COL32(34, 42, 54, 255));
    c[ImGuiCol_HeaderHovered] = colour(IM_COL32(40, 50, 64, 255));
    c[ImGuiCol_HeaderActive] = colour(kAccentDeep);
    c[ImGuiCol_CheckMark] = colour(kAccent);
    c[ImGuiCol_SliderGrab] = colour(kAccent);
    c[ImGuiCol_SliderGrabActive] = colour(IM_COL32(120, 195, 255, 255));
    c[ImGuiCol_Separator] = colour(kBorder);
    c[ImGuiCol_ScrollbarBg] = ImVec4(0, 0, 0, 0);
    c[ImGuiCol_ScrollbarGrab] = colour(IM_COL32(48, 58, 72, 255));
    c[ImGuiCol_ScrollbarGrabHovered] = colour(IM_COL32(60, 72, 88, 255));
    c[ImGuiCol_ScrollbarGrabActive] = colour(IM_COL32(70, 84, 102, 255));
    c[ImGuiCol_PlotHistogram] = colour(kAccent);
    c[ImGuiCol_TableHeaderBg] = colour(kCard);
    c[ImGuiCol_TableBorderLight] = colour(kBorder);
    c[ImGuiCol_TableRowBgAlt] = colour(IM_COL32(255, 255, 255, 6));
}

}  // namespace theme
