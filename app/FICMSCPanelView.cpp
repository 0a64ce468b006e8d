#include "FICMSCPanelView.h"

#include <imgui.h>

#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "platform/DebugLog.h"

namespace {

void figure(const char* label, const std::string& value) {
    ImGui::TableNextColumn();
    widgets::caption(label);
    theme::FontScope mono(theme::FontRole::mono);
    ImGui::TextUnformatted(value.c_str());
}

}  // namespace

void drawFICMSCPanelView(const FICMSCInput& in, UIProbe& probe) {
    const ImVec2 top = ImGui::GetCursorScreenPos();
    if (ImGui::BeginTable("ficFigures", 4, ImGuiTableFlags_SizingStretchSame)) {
        figure("CIF", std::to_string(in.cifCounter));
        figure("Superframes", std::to_string(in.superframeCount));
        figure("RS miss streak", std::to_string(in.rsHuntMissStreak));
        figure("FIC CRC", formatString("%d/12", in.ficCRCCount));
        ImGui::EndTable();
    }
    widgets::sectionTitle("SUBCHANNELS");
    constexpr ImGuiTableFlags kFlags = ImGuiTableFlags_SizingStretchProp | ImGuiTableFlags_RowBg | ImGuiTableFlags_PadOuterX;
    ImGui::PushStyleColor(ImGuiCol_TableRowBg, theme::colour(IM_COL32(0, 0, 0, 0)));
    ImGui::PushStyleColor(ImGuiCol_TableRowBgAlt, theme::colour(IM_COL32(255, 255, 255, 6)));
    if (ImGui::BeginTable("subchannels", 6, kFlags)) {
        ImGui::TableSetupColumn("SubCh", ImGuiTableColumnFlags_WidthFixed, 52.0f);
        ImGui::TableSetupColumn("Start", ImGuiTableColumnFlags_WidthFixed, 56.0f);
        ImGui::TableSetupColumn("Size", ImGuiTableColumnFlags_WidthFixed, 64.0f);
        ImGui::TableSetupColumn("Protection", ImGuiTableColumnFlags_WidthFixed, 64.0f);
        ImGui::TableSetupColumn("Rate", ImGuiTableColumnFlags_WidthFixed, 72.0f);
        ImGui::TableSetupColumn("Service", ImGuiTableColumnFlags_WidthStretch);
        for (const DABSubchannelInfo& s : in.subchannels) {
            ImGui::TableNextRow();
            const bool selected = in.selectedServiceId && s.linkedServiceId == in.selectedServiceId;
            if (selected)
                ImGui::TableSetBgColor(ImGuiTableBgTarget_RowBg0, theme::withAlpha(theme::kAccent, 0.15f));
            const ImU32 colour = selected ? theme::kAccent : theme::kText;
            ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(colour));
            ImGui::TableNextColumn();
            ImGui::Text("%d", s.id);
            ImGui::TableNextColumn();
            ImGui::Text("%d", s.startCU);
            ImGui::TableNextColumn();
            ImGui::Text("%d CU", s.sizeCU);
            ImGui::TableNextColumn();
            ImGui::Text("prot %d%s", s.protection, s.isShort ? " UEP" : "");
            ImGui::TableNextColumn();
            ImGui::Text("%d kbps", s.bitrateKbps);
            ImGui::TableNextColumn();
            ImGui::PopStyleColor();
            ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(s.linkedIsAudio.value_or(false) ? colour : theme::kTextDim));
            ImGui::TextUnformatted(s.linkedServiceName.value_or("—").c_str());
            ImGui::PopStyleColor();
        }
        ImGui::EndTable();
    }
    ImGui::PopStyleColor(2);
    if (in.subchannels.empty()) widgets::caption("No sub-channels yet");
    probe.noteRect("ficMscPanel", top, ImVec2(top.x + ImGui::GetContentRegionAvail().x, ImGui::GetCursorScreenPos().y));
}
