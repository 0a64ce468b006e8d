#include "SpanPicker.h"

#include <imgui.h>

#include <array>
#include <cmath>

#include "Theme.h"
#include "ViewMath.h"
#include "Widgets.h"

bool drawSpanPicker(double& spanMHz) {
    static constexpr std::array<const char*, kDABSpanOptionsMHz.size()> kLabels = {"2.048 MHz", "1.536 MHz"};
    int selected = 0;
    for (std::size_t k = 0; k < kDABSpanOptionsMHz.size(); ++k)
        if (std::abs(kDABSpanOptionsMHz[k] - spanMHz) < 1e-9) selected = static_cast<int>(k);
    {
        theme::FontScope small(theme::FontRole::small);
        ImGui::AlignTextToFramePadding();
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
        ImGui::TextUnformatted("Span");
        ImGui::PopStyleColor();
    }
    ImGui::SameLine();
    if (!widgets::segmented("span", kLabels, &selected, 200.0f)) return false;
    spanMHz = kDABSpanOptionsMHz[static_cast<std::size_t>(selected)];
    return true;
}
