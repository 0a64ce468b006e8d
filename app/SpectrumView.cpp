#include "SpectrumView.h"

#include <algorithm>
#include <cmath>

#include "Theme.h"
#include "ViewMath.h"

namespace {

constexpr float kAxisHeight = 16.0f;
// Peak hold falls by this much of full scale per second (about 6 s from top to bottom).
constexpr float kPeakDecayPerSecond = 0.17f;

// Catmull-Rom through the bins, so a 96-bin row draws as a smooth curve at any width.
std::vector<ImVec2> smoothCurve(std::span<const float> values, ImVec2 origin, ImVec2 size) {
    std::vector<ImVec2> points;
    const std::size_t n = values.size();
    if (n == 0) return points;
    const auto at = [&](std::ptrdiff_t k) {
        k = std::clamp<std::ptrdiff_t>(k, 0, static_cast<std::ptrdiff_t>(n) - 1);
        return std::clamp(values[static_cast<std::size_t>(k)], 0.0f, 1.0f);
    };
    const float dx = n > 1 ? size.x / static_cast<float>(n - 1) : 0.0f;
    const int sub = std::clamp(static_cast<int>(dx / 3.0f), 1, 8);
    for (std::size_t k = 0; k + 1 < std::max<std::size_t>(n, 2); ++k) {
        const auto i = static_cast<std::ptrdiff_t>(k);
        const float p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
        for (int s = 0; s < sub; ++s) {
            const float t = static_cast<float>(s) / static_cast<float>(sub);
            const float t2 = t * t, t3 = t2 * t;
            float v = 0.5f * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 +
                              (-p0 + 3 * p1 - 3 * p2 + p3) * t3);
            v = std::clamp(v, 0.0f, 1.0f);
            points.emplace_back(origin.x + (static_cast<float>(k) + t) * dx,
                                origin.y + size.y * (1.0f - v));
        }
        if (n == 1) break;
    }
    points.emplace_back(origin.x + size.x, origin.y + size.y * (1.0f - at(static_cast<std::ptrdiff_t>(n) - 1)));
    return points;
}

}  // namespace

void SpectrumView::draw(const char* id, const Input& in, ImVec2 size) {
    ImGui::PushID(id);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImGui::InvisibleButton("##spectrum", size);
    const bool hovered = ImGui::IsItemHovered();
    const bool clicked = ImGui::IsItemClicked(ImGuiMouseButton_Left);
    ImDrawList* list = ImGui::GetWindowDrawList();

    const ImVec2 plot0(origin.x + kSpectrumScaleWidth, origin.y);
    const ImVec2 plot1(origin.x + size.x, origin.y + size.y - kAxisHeight);
    const ImVec2 plotSize(plot1.x - plot0.x, plot1.y - plot0.y);
    list->AddRectFilled(plot0, plot1, theme::kPlot, 6.0f);

    // dB scale and horizontal grid.
    ImFont* scaleFont = theme::font(theme::FontRole::scale);
    const std::array<std::string, 5> labels = verticalScaleLabels(in.topDB, in.bottomDB);
    for (int i = 0; i < 5; ++i) {
        const float y = plot0.y + plotSize.y * static_cast<float>(i) * 0.25f;
        if (i > 0 && i < 4) list->AddLine(ImVec2(plot0.x, y), ImVec2(plot1.x, y), theme::kGrid);
        if (in.magnitudes.empty()) continue;  // no levels to label yet
        const std::string& text = labels[static_cast<std::size_t>(i)];
        const ImVec2 ts = scaleFont->CalcTextSizeA(scaleFont->FontSize, 1e9f, 0, text.c_str());
        const float ty = std::clamp(y - ts.y / 2, plot0.y, plot1.y - ts.y);
        list->AddText(scaleFont, scaleFont->FontSize, ImVec2(plot0.x - ts.x - 3, ty), theme::kTextFaint,
                      text.c_str());
    }
    for (int k = 1; k < 8; ++k) {
        const float x = plot0.x + plotSize.x * static_cast<float>(k) / 8.0f;
        list->AddLine(ImVec2(x, plot0.y), ImVec2(x, plot1.y), theme::kGrid);
    }

    list->PushClipRect(plot0, plot1, true);
    if (in.highlightRangeFraction) {
        const auto [a, b] = *in.highlightRangeFraction;
        const float x0 = plot0.x + plotSize.x * static_cast<float>(std::clamp(a, 0.0, 1.0));
        const float x1 = plot0.x + plotSize.x * static_cast<float>(std::clamp(b, 0.0, 1.0));
        list->AddRectFilled(ImVec2(x0, plot0.y), ImVec2(x1, plot1.y), IM_COL32(61, 165, 255, 28));
        if (!in.highlightLabel.empty())
            list->AddText(scaleFont, scaleFont->FontSize, ImVec2(x1 + 4, plot0.y + 24), theme::kTextDim,
                          in.highlightLabel.c_str());
    }

    // Peak hold follows new maxima at once and falls slowly.
    if (peaks.size() != in.magnitudes.size()) peaks.assign(in.magnitudes.begin(), in.magnitudes.end());
    const float decay = kPeakDecayPerSecond * ImGui::GetIO().DeltaTime;
    for (std::size_t k = 0; k < peaks.size(); ++k)
        peaks[k] = std::max(in.magnitudes[k], peaks[k] - decay);

    if (!in.magnitudes.empty()) {
        const std::vector<ImVec2> curve = smoothCurve(in.magnitudes, plot0, plotSize);
        for (std::size_t k = 0; k + 1 < curve.size(); ++k) {
            const ImVec2 a = curve[k], b = curve[k + 1];
            // Convex quads down to the baseline; two alphas give a soft vertical fade.
            list->AddQuadFilled(a, b, ImVec2(b.x, plot1.y), ImVec2(a.x, plot1.y), IM_COL32(61, 165, 255, 38));
        }
        const std::vector<ImVec2> peakCurve = smoothCurve(peaks, plot0, plotSize);
        list->AddPolyline(peakCurve.data(), static_cast<int>(peakCurve.size()), IM_COL32(242, 177, 58, 110),
                          ImDrawFlags_None, 1.0f);
        list->AddPolyline(curve.data(), static_cast<int>(curve.size()), theme::kAccent, ImDrawFlags_None, 1.6f);
    } else {
        const char* idle = "No signal";
        const ImVec2 ts = ImGui::CalcTextSize(idle);
        list->AddText(ImVec2(plot0.x + (plotSize.x - ts.x) / 2, plot0.y + (plotSize.y - ts.y) / 2),
                      theme::kTextFaint, idle);
    }

    if (in.markerFraction) {
        const float x = plot0.x + plotSize.x * static_cast<float>(std::clamp(*in.markerFraction, 0.0, 1.0));
        list->AddLine(ImVec2(x, plot0.y), ImVec2(x, plot1.y), theme::kMarker, 1.5f);
        if (!in.markerLabel.empty()) {
            const ImVec2 ts = scaleFont->CalcTextSizeA(scaleFont->FontSize, 1e9f, 0, in.markerLabel.c_str());
            const float bx = std::min(x + 4, plot1.x - ts.x - 8);
            list->AddRectFilled(ImVec2(bx, plot0.y + 4), ImVec2(bx + ts.x + 8, plot0.y + 6 + ts.y), IM_COL32(120, 30, 34, 230), 3.0f);
            list->AddText(scaleFont, scaleFont->FontSize, ImVec2(bx + 4, plot0.y + 5), theme::kText,
                          in.markerLabel.c_str());
        }
    }

    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const double fraction = tapFraction(mouse.x - origin.x, kSpectrumScaleWidth, plotSize.x);
    if (hovered && mouse.x >= plot0.x) {
        list->AddLine(ImVec2(mouse.x, plot0.y), ImVec2(mouse.x, plot1.y), IM_COL32(255, 255, 255, 70));
        if (in.hoverText) {
            const std::string text = in.hoverText(fraction);
            const ImVec2 ts = ImGui::CalcTextSize(text.c_str());
            const float bx = std::min(mouse.x + 8, plot1.x - ts.x - 10);
            const float by = std::clamp(mouse.y - ts.y - 10, plot0.y + 2, plot1.y - ts.y - 6);
            list->AddRectFilled(ImVec2(bx, by), ImVec2(bx + ts.x + 10, by + ts.y + 4), IM_COL32(20, 25, 32, 235), 4.0f);
            list->AddText(ImVec2(bx + 5, by + 2), theme::kText, text.c_str());
        }
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    }
    list->PopClipRect();
    list->AddRect(plot0, plot1, theme::kBorder, 6.0f);

    // Frequency axis.
    const float ay = plot1.y + 2;
    list->AddText(scaleFont, scaleFont->FontSize, ImVec2(plot0.x, ay), theme::kTextDim, in.leftFreqText.c_str());
    const ImVec2 cs = scaleFont->CalcTextSizeA(scaleFont->FontSize, 1e9f, 0, in.centerFreqText.c_str());
    list->AddText(scaleFont, scaleFont->FontSize, ImVec2(plot0.x + (plotSize.x - cs.x) / 2, ay), theme::kTextDim,
                  in.centerFreqText.c_str());
    const ImVec2 rs = scaleFont->CalcTextSizeA(scaleFont->FontSize, 1e9f, 0, in.rightFreqText.c_str());
    list->AddText(scaleFont, scaleFont->FontSize, ImVec2(plot1.x - rs.x, ay), theme::kTextDim,
                  in.rightFreqText.c_str());

    if (clicked && in.onTap) in.onTap(fraction);
    ImGui::PopID();
}
