#include "LineChartView.h"

#include <algorithm>
#include <vector>

#include "Theme.h"

void drawLineChartView(const char* id, std::span<const float> values, ImU32 color, ImVec2 size) {
    ImGui::PushID(id);
    const ImVec2 p0 = ImGui::GetCursorScreenPos();
    ImGui::Dummy(size);
    const ImVec2 p1(p0.x + size.x, p0.y + size.y);
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->AddRectFilled(p0, p1, theme::kPlot, 6.0f);
    for (int k = 1; k < 4; ++k) {
        const float y = p0.y + size.y * static_cast<float>(k) / 4.0f;
        list->AddLine(ImVec2(p0.x, y), ImVec2(p1.x, y), theme::withAlpha(theme::kGrid, 0.35f));
    }
    if (values.size() >= 2) {
        std::vector<ImVec2> points;
        points.reserve(values.size());
        const float pad = 4.0f, h = size.y - 2 * pad;
        for (std::size_t k = 0; k < values.size(); ++k) {
            const float x = p0.x + size.x * static_cast<float>(k) / static_cast<float>(values.size() - 1);
            points.emplace_back(x, p0.y + pad + h * (1.0f - std::clamp(values[k], 0.0f, 1.0f)));
        }
        const ImU32 fill = theme::withAlpha(color, 0.16f);
        for (std::size_t k = 0; k + 1 < points.size(); ++k)
            list->AddQuadFilled(points[k], points[k + 1], ImVec2(points[k + 1].x, p1.y), ImVec2(points[k].x, p1.y), fill);
        list->AddPolyline(points.data(), static_cast<int>(points.size()), color, ImDrawFlags_None, 1.5f);
    }
    list->AddRect(p0, p1, theme::kBorder, 6.0f);
    ImGui::PopID();
}
