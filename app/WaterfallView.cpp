#include "WaterfallView.h"

#include <algorithm>

#include "Theme.h"
#include "ViewMath.h"

void WaterfallView::draw(const char* id, const Input& in, ImVec2 size) {
    ImGui::PushID(id);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImGui::InvisibleButton("##waterfall", size);
    const bool hovered = ImGui::IsItemHovered();
    const bool clicked = ImGui::IsItemClicked(ImGuiMouseButton_Left);
    ImDrawList* list = ImGui::GetWindowDrawList();

    const ImVec2 plot0(origin.x + in.leftScaleWidth, origin.y);
    const ImVec2 plot1(origin.x + size.x, origin.y + size.y);
    const ImVec2 plotSize(plot1.x - plot0.x, plot1.y - plot0.y);
    list->AddRectFilled(plot0, plot1, IM_COL32(0, 0, 0, 255), 6.0f);

    const WaterfallImage image = waterfallImage(in.history, in.spanMHz);
    if (image.width > 0 && image.height > 0) {
        texture.upload(image.width, image.height, image.rgba, true);
        const float rowHeight = plotSize.y / static_cast<float>(std::max<std::size_t>(in.maxRows, 1));
        const float shownHeight = std::min(plotSize.y, rowHeight * static_cast<float>(image.height));
        list->AddImage(texture.textureID(), plot0, ImVec2(plot1.x, plot0.y + shownHeight));
    }

    ImFont* scaleFont = theme::font(theme::FontRole::scale);
    if (in.markerFraction) {
        const float x = plot0.x + plotSize.x * static_cast<float>(std::clamp(*in.markerFraction, 0.0, 1.0));
        list->AddLine(ImVec2(x, plot0.y), ImVec2(x, plot1.y), IM_COL32(255, 92, 92, 150), 1.0f);
    }
    if (in.leftScaleWidth > 0) {
        list->AddText(scaleFont, scaleFont->FontSize, ImVec2(origin.x, plot0.y + 2), theme::kTextFaint,
                      in.topTimeLabel.c_str());
        const ImVec2 bs = scaleFont->CalcTextSizeA(scaleFont->FontSize, 1e9f, 0, in.bottomTimeLabel.c_str());
        list->AddText(scaleFont, scaleFont->FontSize, ImVec2(origin.x, plot1.y - bs.y - 2), theme::kTextFaint,
                      in.bottomTimeLabel.c_str());
    }
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    if (hovered && mouse.x >= plot0.x) {
        list->AddLine(ImVec2(mouse.x, plot0.y), ImVec2(mouse.x, plot1.y), IM_COL32(255, 255, 255, 70));
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    }
    list->AddRect(plot0, plot1, theme::kBorder, 6.0f);
    if (clicked && in.onTap) in.onTap(tapFraction(mouse.x - origin.x, in.leftScaleWidth, plotSize.x));
    ImGui::PopID();
}
