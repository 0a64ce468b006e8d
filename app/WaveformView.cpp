#include "WaveformView.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Theme.h"

void drawWaveformView(const char* id, std::span<const float> samples, ImVec2 size) {
    ImGui::PushID(id);
    const ImVec2 p0 = ImGui::GetCursorScreenPos();
    ImGui::Dummy(size);
    const ImVec2 p1(p0.x + size.x, p0.y + size.y);
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->AddRectFilled(p0, p1, theme::kPlot, 6.0f);
    const float mid = (p0.y + p1.y) / 2;
    list->AddLine(ImVec2(p0.x, mid), ImVec2(p1.x, mid), theme::withAlpha(theme::kGrid, 0.5f));
    if (samples.size() >= 2) {
        // Scaled to the block's own peak (at least 0.05) so quiet audio still shows its shape.
        float peak = 0.05f;
        for (float s : samples) peak = std::max(peak, std::abs(s));
        const float half = size.y / 2 - 4;
        std::vector<ImVec2> points;
        points.reserve(samples.size());
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const float x = p0.x + size.x * static_cast<float>(k) / static_cast<float>(samples.size() - 1);
            points.emplace_back(x, mid - half * std::clamp(samples[k] / peak, -1.0f, 1.0f));
        }
        list->AddPolyline(points.data(), static_cast<int>(points.size()), theme::kGood, ImDrawFlags_None, 1.3f);
    }
    list->AddRect(p0, p1, theme::kBorder, 6.0f);
    ImGui::PopID();
}
