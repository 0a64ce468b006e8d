#include "TunerPanel.h"

#include <imgui.h>

#include <array>

#include "FavoriteGroup.h"
#include "FilterToggleButton.h"
#include "PanelContext.h"
#include "Theme.h"
#include "TuningActions.h"
#include "TuningKnob.h"
#include "control/LevelScale.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

void drawGain(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    bool agc = c.agcEnabled();
    if (widgets::toggleSwitch("AGC", &agc)) c.setAgcEnabled(agc);
    ctx.probe.noteItem("agcSwitch");
    if (!agc) {
        float gainDB = static_cast<float>(c.manualGainTenthsDB() / 10.0);
        if (ImGui::SliderFloat("##gain", &gainDB, 0.0f, 49.6f, "Gain %.1f dB"))
            c.setManualGainTenthsDB(static_cast<double>(gainDB) * 10.0);
    }
}

void drawSquelch(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    bool on = c.squelchEnabled;
    if (widgets::toggleSwitch("Squelch", &on)) c.squelchEnabled = on;
    if (on) {
        float threshold = static_cast<float>(c.squelchThresholdDB.get());
        if (ImGui::SliderFloat("##squelch", &threshold, kLevelScaleBottomDBFS, kLevelScaleTopDBFS,
                               "Opens at %.0f dBFS"))
            c.squelchThresholdDB = static_cast<double>(threshold);
        // The squelch compares the tuned channel's level, not the strongest signal in view.
        const bool open = c.channelLevelDB.get() >= c.squelchThresholdDB.get();
        widgets::caption(formatString("%s · channel %.0f dBFS", open ? "Open" : "Closed",
                                      c.channelLevelDB.get())
                             .c_str());
    }
}

void drawStereoIndicator(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    const bool wanted = c.stereoEnabled;
    const bool detected = c.stereoDetected;
    const char* text = !wanted ? "OFF" : (detected ? "STEREO" : "MONO");
    const ImU32 colour = !wanted ? theme::kTextFaint : (detected ? theme::kGood : theme::kWarn);
    widgets::caption("Stereo");
    ImGui::SameLine();
    const float width = 84.0f;
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x - width);
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(colour));
    ImGui::PushStyleColor(ImGuiCol_Button, theme::colour(theme::withAlpha(colour, 0.14f)));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, theme::colour(theme::withAlpha(colour, 0.24f)));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 12.0f);
    if (ImGui::Button(text, ImVec2(width, 0))) c.stereoEnabled = !wanted;
    ImGui::PopStyleVar();
    ImGui::PopStyleColor(3);
    ctx.probe.noteItem("stereoIndicator");
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", wanted ? "Switch to mono" : "Switch to stereo");
}

}  // namespace

void drawTunerPanel(PanelContext& ctx, TuningKnob& knob) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("TUNER");
    knob.draw("knob",
              {.frequencyMHz = c.frequencyMHz,
               .onAdjust = [&c](double hz) { c.adjustFrequencyContinuous(hz); },
               .onReset = [&c] { c.tune(snapToChannelMHz(c.frequencyMHz, BandDefinition::allBands()), true); }},
              ctx.probe);
    widgets::caption("Scroll 100 kHz · Alt 10 kHz · Shift 1 MHz");
    ImGui::Dummy(ImVec2(0, 2));

    widgets::Card card("controls");
    drawGain(ctx);
    widgets::divider();
    drawSquelch(ctx);
    widgets::divider();
    widgets::caption("Mode");
    static constexpr std::array<const char*, 3> kModes = {"WFM", "NFM", "AM"};
    int mode = currentModeIndex(c);
    if (widgets::segmented("tunerMode", kModes, &mode)) setModeIndex(c, mode);
    widgets::caption("Filters");
    const float gap = 4.0f;
    const float w = (ImGui::GetContentRegionAvail().x - 2 * gap) / 3;
    bool nb = c.nbEnabled, nr = c.nrEnabled, notch = c.notchEnabled;
    if (filterToggleButton("NB", nb, ImVec2(w, 0))) c.nbEnabled = nb;
    ctx.probe.noteItem("filter NB");
    ImGui::SameLine(0, gap);
    if (filterToggleButton("NR", nr, ImVec2(w, 0))) c.nrEnabled = nr;
    ctx.probe.noteItem("filter NR");
    ImGui::SameLine(0, gap);
    if (filterToggleButton("NOTCH", notch, ImVec2(w, 0))) c.notchEnabled = notch;
    ctx.probe.noteItem("filter NOTCH");
    widgets::divider();

    widgets::caption("RDS");
    ImGui::SameLine();
    if (c.rdsStationName) {
        theme::FontScope bold(theme::FontRole::bold);
        ImGui::TextUnformatted(c.rdsStationName->c_str());
        ImGui::SameLine();
        widgets::textRightAligned("LOCKED", theme::kGood);
    } else {
        widgets::textRightAligned(c.rdsEnabled() ? "searching" : "off", theme::kTextFaint);
    }
    widgets::caption("Volume");
    float volume = static_cast<float>(c.audioVolume() * 100.0);
    if (ImGui::SliderFloat("##volume", &volume, 0.0f, 100.0f, "%.0f%%"))
        c.setAudioVolume(static_cast<double>(volume) / 100.0);
    ctx.probe.noteItem("volume");
    drawStereoIndicator(ctx);
}
