#include "UIProbe.h"

#include <imgui_internal.h>

void UIProbe::noteItem(const std::string& name) {
    noteRect(name, ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
}

void UIProbe::noteRect(const std::string& name, ImVec2 min, ImVec2 max) {
    // A window still sizing itself (a popover's first frames) is not where it will be drawn.
    if (ImGui::GetCurrentContext() != nullptr) {
        const ImGuiWindow* window = ImGui::GetCurrentWindowRead();
        if (window != nullptr && window->Hidden) return;
    }
    current[name] = {.x = min.x, .y = min.y, .width = max.x - min.x, .height = max.y - min.y};
}
