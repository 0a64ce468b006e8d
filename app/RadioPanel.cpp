#include "RadioPanel.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <array>

#include "ContentViewState.h"
#include "DABRadioSection.h"
#include "FavoriteGroup.h"
#include "PanelContext.h"
#include "Theme.h"
#include "TuningActions.h"
#include "UIProbe.h"
#include "ViewMath.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

void drawModeCard(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::Card card("mode");
    static constexpr std::array<const char*, 3> kLabels = {"WFM", "NFM", "AM"};
    int selected = currentModeIndex(c);
    if (widgets::segmented("radioMode", kLabels, &selected)) setModeIndex(c, selected);
    ctx.probe.noteRect("radioMode", ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
    static constexpr std::array<const char*, 3> kHints = {
        "Wide-band FM broadcast, 200 kHz channels, RDS and stereo",
        "Narrow-band FM: amateur, PMR, marine, APRS",
        "AM: airband, medium and short wave"};
    widgets::captionWrapped(kHints[static_cast<std::size_t>(currentModeIndex(c))]);
}

void drawFrequencyCard(PanelContext& ctx) {
    widgets::Card card("frequency");
    widgets::caption("Frequency (MHz)");
    const float buttonWidth = 64.0f;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - buttonWidth - 6);
    const bool entered = ImGui::InputText("##frequencyText", &ctx.state.frequencyText,
                                          ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_CharsScientific);
    ctx.probe.noteItem("frequencyField");
    ImGui::SameLine(0, 6);
    const bool pressed = widgets::primaryButton("Tune", ImVec2(buttonWidth, 0));
    ctx.probe.noteItem("tuneButton");
    // A text that is not a frequency stays in the field so it can be corrected.
    if (entered || pressed) tuneToFrequencyText(ctx.controller, ctx.state.frequencyText);
    if (!parseFrequencyText(ctx.state.frequencyText)) widgets::caption("Enter a frequency such as 92.10");
}

void drawBands(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    const auto& bands = BandDefinition::allBands();
    const float gap = 6.0f;
    const float width = (ImGui::GetContentRegionAvail().x - gap) / 2;
    ImDrawList* d = ImGui::GetWindowDrawList();
    ImFont* small = theme::font(theme::FontRole::scale);
    const BandDefinition* current = bandContaining(c.frequencyMHz, bands);
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const BandDefinition& band = bands[k];
        if (k % 2 == 1) ImGui::SameLine(0, gap);
        ImGui::PushID(static_cast<int>(k));
        const ImVec2 p = ImGui::GetCursorScreenPos();
        const bool pressed = ImGui::InvisibleButton("##band", ImVec2(width, 44));
        ctx.probe.noteItem("band " + band.name);
        const bool active = ctx.state.activeBandName == band.name || (!ctx.state.activeBandName && current == &band);
        const bool hovered = ImGui::IsItemHovered();
        const ImVec2 q(p.x + width, p.y + 44);
        d->AddRectFilled(p, q, active ? theme::withAlpha(theme::kAccent, 0.16f) : (hovered ? theme::kCardHover : theme::kCard), 7.0f);
        if (active) d->AddRect(p, q, theme::withAlpha(theme::kAccent, 0.7f), 7.0f);
        d->AddText(ImVec2(p.x + 9, p.y + 6), theme::kText, band.name.c_str());
        const std::string range = band.endMHz < 10.0
                                      ? formatString("%.0f–%.0f kHz", band.startMHz * 1000, band.endMHz * 1000)
                                      : formatString("%.1f–%.1f MHz", band.startMHz, band.endMHz);
        d->AddText(small, small->FontSize, ImVec2(p.x + 9, p.y + 26), theme::kTextDim, range.c_str());
        if (pressed) selectBand(c, ctx.state, band);
        ImGui::PopID();
    }
}

}  // namespace

void drawRadioPanel(PanelContext& ctx) {
    widgets::sectionTitle("RADIO MODE");
    drawModeCard(ctx);
    drawFrequencyCard(ctx);
    widgets::sectionTitle("BANDS");
    drawBands(ctx);
    ImGui::Dummy(ImVec2(0, 6));
    drawDABRadioSection(ctx);
}
