#include "ConstellationView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "DABViewMath.h"
#include "Theme.h"
#include "Widgets.h"
#include "platform/DebugLog.h"

void drawConstellationView(const char* id, std::span<const DABConstellationPoint> points, float side) {
    ImGui::PushID(id);
    ImDrawList* list = ImGui::GetWindowDrawList();
    ImFont* small = theme::font(theme::FontRole::small);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const float titleHeight = 20.0f;
    ImGui::Dummy(ImVec2(side, side + titleHeight));
    list->AddText(small, small->FontSize, ImVec2(origin.x, origin.y + 1), theme::kTextDim, "Constellation");
    const std::string count = formatString("%zu points/frame", points.size());
    const ImVec2 cs = small->CalcTextSizeA(small->FontSize, 1e9f, 0, count.c_str());
    list->AddText(small, small->FontSize, ImVec2(origin.x + side - cs.x, origin.y + 1), theme::kTextFaint, count.c_str());

    const ImVec2 p0(origin.x, origin.y + titleHeight);
    const ImVec2 p1(p0.x + side, p0.y + side);
    const ImVec2 centre((p0.x + p1.x) / 2, (p0.y + p1.y) / 2);
    list->AddRectFilled(p0, p1, theme::kPlot, 6.0f);
    list->AddLine(ImVec2(p0.x, centre.y), ImVec2(p1.x, centre.y), theme::withAlpha(theme::kGrid, 0.6f));
    list->AddLine(ImVec2(centre.x, p0.y), ImVec2(centre.x, p1.y), theme::withAlpha(theme::kGrid, 0.6f));

    // The RMS radius lands at 60 % of the half-side, so clusters and their spread both show.
    const float reach = side * 0.5f * 0.6f;
    const float ideal = reach;
    for (int k = 0; k < 4; ++k) {
        const float a = std::numbers::pi_v<float> / 4 + static_cast<float>(k) * std::numbers::pi_v<float> / 2;
        list->AddCircle(ImVec2(centre.x + ideal * std::cos(a), centre.y - ideal * std::sin(a)), 9.0f,
                        theme::withAlpha(theme::kTextFaint, 0.5f), 20, 1.0f);
    }
    const ConstellationStats stats = constellationStats(points);
    if (stats.rmsRadius > 0.0f) {
        const float scale = reach / stats.rmsRadius;
        const float limit = side * 0.5f - 3.0f;
        for (const DABConstellationPoint& p : points) {
            const float x = std::clamp(p.re * scale, -limit, limit);
            const float y = std::clamp(p.im * scale, -limit, limit);
            list->AddCircleFilled(ImVec2(centre.x + x, centre.y - y), 2.0f, theme::withAlpha(theme::kAccent, 0.85f), 8);
        }
    } else {
        const char* text = "Waiting for frames";
        const ImVec2 ts = small->CalcTextSizeA(small->FontSize, 1e9f, 0, text);
        list->AddText(small, small->FontSize, ImVec2(centre.x - ts.x / 2, p1.y - ts.y - 8), theme::kTextFaint, text);
    }
    list->AddRect(p0, p1, theme::kBorder, 6.0f);
    ImGui::PopID();
}
