#include "NowPlayingHeader.h"

#include <imgui.h>

#include <algorithm>

#include "SignalMeterView.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/LevelScale.h"
#include "platform/DebugLog.h"

void drawNowPlayingHeader(const NowPlayingInput& in, UIProbe& probe) {
    const float width = ImGui::GetContentRegionAvail().x;
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const float height = 78.0f;
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->AddRectFilled(origin, ImVec2(origin.x + width, origin.y + height), theme::kCard, 8.0f);

    ImGui::SetCursorScreenPos(ImVec2(origin.x + 12, origin.y + 12));
    if (widgets::starButton("##favourite", in.isFavorite, 26.0f) && in.onToggleFavorite) in.onToggleFavorite();
    probe.noteItem("favoriteStar");
    if (ImGui::IsItemHovered())
        ImGui::SetTooltip("%s", in.isFavorite ? "Remove from favorites" : "Add to favorites");

    // Frequency in the display font, "MHz" beside it.
    ImGui::SetCursorScreenPos(ImVec2(origin.x + 48, origin.y + 6));
    {
        theme::FontScope display(theme::FontRole::display);
        ImGui::Text("%.3f", in.frequencyMHz);
    }
    probe.noteItem("frequencyReadout");
    const ImVec2 fmax = ImGui::GetItemRectMax();
    {
        theme::FontScope small(theme::FontRole::small);
        list->AddText(ImVec2(fmax.x + 6, fmax.y - 22), theme::kTextDim, "MHz");
        list->AddText(ImVec2(fmax.x + 6, fmax.y - 38), theme::kAccent, in.modeText.c_str());
    }

    // Station name and radio text.
    const float textX = std::max(fmax.x + 54, origin.x + 250);
    const float meterWidth = std::clamp(width * 0.30f, 200.0f, 300.0f);
    const float textRight = origin.x + width - meterWidth - 28;
    ImGui::SetCursorScreenPos(ImVec2(textX, origin.y + 10));
    ImGui::PushClipRect(ImVec2(textX, origin.y), ImVec2(textRight, origin.y + height), true);
    {
        theme::FontScope title(theme::FontRole::title);
        if (in.stationName) {
            ImGui::TextUnformatted(in.stationName->c_str());
        } else {
            ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextFaint));
            ImGui::TextUnformatted("Unnamed station");
            ImGui::PopStyleColor();
        }
    }
    ImGui::SetCursorScreenPos(ImVec2(textX, origin.y + 38));
    if (in.nowPlaying && !in.nowPlaying->empty()) {
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kAccent));
        ImGui::TextUnformatted(in.nowPlaying->c_str());
        ImGui::PopStyleColor();
        probe.noteItem("nowPlayingItem");
    } else if (in.radioText && !in.radioText->empty()) {
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
        ImGui::TextUnformatted(in.radioText->c_str());
        ImGui::PopStyleColor();
    } else {
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextFaint));
        ImGui::TextUnformatted(in.hasRDS ? "RDS" : "No radio text");
        ImGui::PopStyleColor();
    }
    ImGui::PopClipRect();
    ImGui::SetCursorScreenPos(ImVec2(textX, origin.y + 56));
    widgets::badge("RDS", theme::kGood, in.hasRDS);
    ImGui::SameLine(0, 6);
    widgets::badge("STEREO", theme::kAccent, in.isStereo);

    ImGui::SetCursorScreenPos(ImVec2(origin.x + width - meterWidth - 14, origin.y + 14));
    drawSignalMeterView("meter", in.channelLevelDB, in.snrDB, kLevelScaleBottomDBFS,
                        kLevelScaleTopDBFS, meterWidth);
    probe.noteRect("signalMeter", ImVec2(origin.x + width - meterWidth - 14, origin.y + 14),
                   ImVec2(origin.x + width - 14, origin.y + 60));

    ImGui::SetCursorScreenPos(ImVec2(origin.x, origin.y + height));
    ImGui::Dummy(ImVec2(width, 0));
}
