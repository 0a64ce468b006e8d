#include "UIProbe.h"

void UIProbe::noteItem(const std::string& name) {
    noteRect(name, ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
}

void UIProbe::noteRect(const std::string& name, ImVec2 min, ImVec2 max) {
    current[name] = {.x = min.x, .y = min.y, .width = max.x - min.x, .height = max.y - min.y};
}
