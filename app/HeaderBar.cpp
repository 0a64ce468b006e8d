#include "HeaderBar.h"

#include <imgui.h>

#include <cmath>
#include <string>

#include "AudioPanel.h"
#include "ContentViewState.h"
#include "PanelContext.h"
#include "SettingsPanel.h"
#include "SourceSelector.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

void drawGear(ImDrawList* d, ImVec2 c, ImU32 col) {
    for (int k = 0; k < 8; ++k) {
        const float a = static_cast<float>(k) * 3.14159265f / 4.0f;
        d->AddLine(ImVec2(c.x + 5.5f * std::cos(a), c.y + 5.5f * std::sin(a)),
                   ImVec2(c.x + 8.5f * std::cos(a), c.y + 8.5f * std::sin(a)), col, 2.6f);
    }
    d->AddCircle(c, 5.5f, col, 24, 2.2f);
}

}  // namespace

void HeaderBar::popoverButton(const char* label, const char* popupID, bool& shown, Popover& popover, ImVec2 size,
                              PanelContext& ctx, const char* probeName) {
    const double now = ImGui::GetTime();
    const bool open = ImGui::IsPopupOpen(popupID);
    if (popover.wasOpen && !open) {
        // Closed by a click outside it.
        shown = false;
        popover.closedAt = now;
    }
    if (widgets::pillButton(label, shown, size) && now - popover.closedAt > 0.3) shown = !shown;
    ctx.probe.noteItem(probeName);
    const ImVec2 max = ImGui::GetItemRectMax();
    if (shown && !open) {
        ImGui::SetNextWindowPos(ImVec2(max.x, max.y + 6), ImGuiCond_Always, ImVec2(1.0f, 0.0f));
        ImGui::OpenPopup(popupID);
    }
}

void HeaderBar::closeOnEscape(bool& shown, Popover& popover) {
    if (!ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape))) return;
    ImGui::CloseCurrentPopup();
    shown = false;
    popover.closedAt = ImGui::GetTime();
}

void HeaderBar::draw(PanelContext& ctx, const SourceSelector& sources, SettingsPanelEdits& settingsEdits, float height) {
    SDRController& c = ctx.controller;
    ImDrawList* d = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x;
    d->AddRectFilled(origin, ImVec2(origin.x + width, origin.y + height), theme::kPanel);
    d->AddLine(ImVec2(origin.x, origin.y + height - 1), ImVec2(origin.x + width, origin.y + height - 1), theme::kBorder);
    const float midY = origin.y + height / 2;

    // Device lines, with a live dot: green streaming, grey stopped.
    const bool running = c.isRunning;
    d->AddCircleFilled(ImVec2(origin.x + 20, midY), 5.0f, running ? theme::kGood : theme::kTextFaint);
    ImGui::SetCursorScreenPos(ImVec2(origin.x + 34, midY - 18));
    ImGui::BeginGroup();
    {
        theme::FontScope bold(theme::FontRole::bold);
        ImGui::TextUnformatted(sources.deviceLine().c_str());
    }
    ctx.probe.noteItem("deviceLine");
    widgets::caption(sources.tunerLine().c_str());
    ImGui::EndGroup();

    // The right-hand cluster keeps a fixed start so it does not jump as values change; the
    // status text gets what is left between it and the device lines.
    const float clusterX = std::max(origin.x + width - 790, origin.x + 240);
    ImGui::SetCursorScreenPos(ImVec2(origin.x + 230, midY - 9));
    {
        const bool error = c.statusText.rfind("Greška", 0) == 0;
        const ImU32 colour = error ? theme::kBad : (c.audioOutputAvailable ? theme::kTextDim : theme::kWarn);
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(colour));
        ImGui::PushClipRect(ImVec2(origin.x + 230, origin.y), ImVec2(clusterX - 12, origin.y + height), true);
        ImGui::TextUnformatted(c.statusText.c_str());
        ImGui::PopClipRect();
        ImGui::PopStyleColor();
        ctx.probe.noteItem("statusText");
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", c.statusText.c_str());
    }

    ImGui::SetCursorScreenPos(ImVec2(clusterX, midY - 13));
    widgets::chip("Level", formatString("%.0f dBFS", c.channelLevelDB.get()), theme::kText);
    ctx.probe.noteItem("chip Level");
    ImGui::SameLine(0, 6);
    widgets::chip("SNR", formatString("%.0f dB", c.snrDB), c.snrDB > 20 ? theme::kGood : (c.snrDB > 8 ? theme::kWarn : theme::kTextDim));
    ImGui::SameLine(0, 6);
    widgets::chip("AGC", c.agcEnabled() ? std::string("ON") : formatString("%.1f dB", c.manualGainTenthsDB() / 10.0),
                  c.agcEnabled() ? theme::kGood : theme::kWarn);
    ImGui::SameLine(0, 6);
    widgets::chip("CPU", formatString("%.0f%%", c.cpuUsagePercent), c.cpuUsagePercent > 80 ? theme::kBad : theme::kText);
    ctx.probe.noteItem("chip CPU");

    ImGui::SameLine(0, 14);
    ImGui::SetCursorScreenPos(ImVec2(ImGui::GetCursorScreenPos().x, midY - 15));
    for (DemodMode m : kAllDemodModes) {
        const std::string label(rawValue(m));
        if (widgets::pillButton(label.c_str(), c.mode.get() == m, ImVec2(46, 30))) c.mode = m;
        ctx.probe.noteItem("mode " + label);
        ImGui::SameLine(0, 4);
    }

    ImGui::SameLine(0, 10);
    if (running) {
        if (widgets::primaryButton("Stop", ImVec2(74, 30), IM_COL32(170, 58, 58, 255))) c.stop();
    } else if (widgets::primaryButton("Start", ImVec2(74, 30), IM_COL32(38, 150, 92, 255))) {
        c.start();
    }
    ctx.probe.noteItem("startStop");

    ImGui::SameLine(0, 10);
    popoverButton("AUDIO", "audioPopover", ctx.state.showAudioPanel, audio, ImVec2(70, 30), ctx, "audioButton");
    if (!c.audioOutputAvailable) {
        // A warning dot on the button: the popover says why and offers a retry.
        const ImVec2 corner = ImGui::GetItemRectMax();
        const ImVec2 top(corner.x - 7, ImGui::GetItemRectMin().y + 7);
        d->AddCircleFilled(top, 4.5f, theme::kWarn);
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("No sound device: the receiver runs without sound");
    }
    ImGui::SetNextWindowSize(ImVec2(280, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(14, 12));
    const bool audioOpen = ImGui::BeginPopup("audioPopover");
    ImGui::PopStyleVar();
    if (audioOpen) {
        closeOnEscape(ctx.state.showAudioPanel, audio);
        drawAudioPanel(ctx);
        ctx.probe.noteRect("audioPopover", ImGui::GetWindowPos(),
                           ImVec2(ImGui::GetWindowPos().x + ImGui::GetWindowSize().x, ImGui::GetWindowPos().y + ImGui::GetWindowSize().y));
        ImGui::EndPopup();
    }
    audio.wasOpen = audioOpen && ctx.state.showAudioPanel;

    ImGui::SameLine(0, 6);
    bool advanced = c.isAdvancedMode;
    if (widgets::pillButton("ADV", advanced, ImVec2(46, 30))) c.isAdvancedMode = !advanced;
    ctx.probe.noteItem("advancedButton");
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Advanced controls");

    ImGui::SameLine(0, 6);
    const ImVec2 gearPos = ImGui::GetCursorScreenPos();
    popoverButton("##settings", "settingsPopover", ctx.state.showSettingsPanel, settings, ImVec2(34, 30), ctx,
                  "settingsButton");
    drawGear(d, ImVec2(gearPos.x + 17, gearPos.y + 15), ctx.state.showSettingsPanel ? theme::kAccent : theme::kTextDim);
    if (ctx.state.settingsNotice) {
        // A warning dot until the popover has been opened: it says what happened to the file.
        if (!ctx.state.showSettingsPanel) d->AddCircleFilled(ImVec2(gearPos.x + 28, gearPos.y + 7), 4.5f, theme::kWarn);
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", ctx.state.settingsNotice->c_str());
    }
    // Tall enough for every field on a 700-pixel window; beyond that it scrolls.
    ImGui::SetNextWindowSizeConstraints(ImVec2(320, 0), ImVec2(320, 600));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(14, 12));
    const bool settingsOpen = ImGui::BeginPopup("settingsPopover");
    ImGui::PopStyleVar();
    if (settingsOpen) {
        if (!settings.wasOpen) settingsEdits = {};  // look for dongles and sound devices again on each opening
        closeOnEscape(ctx.state.showSettingsPanel, settings);
        drawSettingsPanel(ctx, settingsEdits);
        ctx.probe.noteRect("settingsPopover", ImGui::GetWindowPos(),
                           ImVec2(ImGui::GetWindowPos().x + ImGui::GetWindowSize().x, ImGui::GetWindowPos().y + ImGui::GetWindowSize().y));
        ImGui::EndPopup();
    }
    settings.wasOpen = settingsOpen && ctx.state.showSettingsPanel;

    ImGui::SetCursorScreenPos(ImVec2(origin.x, origin.y + height));
    ImGui::Dummy(ImVec2(width, 0));
}
