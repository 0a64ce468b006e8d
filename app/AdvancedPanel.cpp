#include "AdvancedPanel.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <array>
#include <stdexcept>

#include "PanelContext.h"
#include "SourceSelector.h"
#include "Theme.h"
#include "UIProbe.h"
#include "control/LevelScale.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

void drawSource(PanelContext& ctx, SourceSelector& sources, AdvancedPanelEdits& edits) {
    SDRController& c = ctx.controller;
    widgets::caption("Source");
    static constexpr std::array<const char*, 4> kKinds = {"RTL-SDR dongle", "Simulated world", "IQ file",
                                                          "Network dongle (rtl_tcp)"};
    constexpr int kFile = 2, kNetwork = 3;
    const SourceSelector::Kind kind = sources.kind();
    int selected = kind == SourceSelector::Kind::dongle      ? 0
                   : kind == SourceSelector::Kind::simulated ? 1
                   : kind == SourceSelector::Kind::network   ? kNetwork
                                                             : kFile;
    if (edits.choosingFile) selected = kFile;
    if (edits.choosingNetwork) selected = kNetwork;
    int chosen = selected;
    if (ImGui::BeginCombo("##source", kKinds[static_cast<std::size_t>(selected)])) {
        for (int k = 0; k < static_cast<int>(kKinds.size()); ++k)
            if (ImGui::Selectable(kKinds[static_cast<std::size_t>(k)], k == selected)) chosen = k;
        ImGui::EndCombo();
    }
    ctx.probe.noteItem("sourcePicker");
    if (chosen != selected) {
        edits.choosingFile = chosen == kFile;
        edits.choosingNetwork = chosen == kNetwork;
    }
    const bool showFile = edits.choosingFile || (kind == SourceSelector::Kind::file && !edits.choosingNetwork);
    const bool showNetwork = edits.choosingNetwork || (kind == SourceSelector::Kind::network && !edits.choosingFile);
    if (showFile) {
        if (edits.iqFilePath.empty() && kind == SourceSelector::Kind::file) edits.iqFilePath = sources.options().choice;
        ImGui::InputTextWithHint("##iqFile", ".cu8 or .cf32 file", &edits.iqFilePath);
    }
    if (showNetwork) {
        if (edits.networkAddress.empty())
            edits.networkAddress = kind == SourceSelector::Kind::network ? sources.options().choice : "rtltcp://127.0.0.1:1234";
        ImGui::InputTextWithHint("##rtltcp", "rtltcp://HOST:PORT", &edits.networkAddress);
    }
    const auto apply = [&](std::string choice) {
        SignalSourceOptions options = sources.options();
        options.choice = std::move(choice);
        const bool wasRunning = c.isRunning;
        try {
            // The dongle is owned by the run: stop, switch, and start again if it was on.
            if (wasRunning) c.stop();
            sources.choose(options);
            edits.sourceError.clear();
            edits.choosingFile = edits.choosingNetwork = false;
        } catch (const std::exception& error) {
            edits.sourceError = error.what();
        }
        if (wasRunning) c.start();
    };
    if (chosen != selected && chosen < kFile) {
        const bool same = (chosen == 0 && kind == SourceSelector::Kind::dongle) ||
                          (chosen == 1 && kind == SourceSelector::Kind::simulated);
        if (!same) apply(chosen == 0 ? "rtlsdr" : "sim");
    }
    if (showFile) {
        if (widgets::pillButton("Open file", false, ImVec2(ImGui::GetContentRegionAvail().x, 0)) && !edits.iqFilePath.empty())
            apply(edits.iqFilePath);
    }
    if (showNetwork) {
        if (widgets::pillButton("Connect", false, ImVec2(ImGui::GetContentRegionAvail().x, 0)) &&
            !edits.networkAddress.empty())
            apply(edits.networkAddress);
    }
    widgets::captionWrapped(sources.description().c_str());
    if (!edits.sourceError.empty()) {
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kBad));
        ImGui::TextWrapped("%s", edits.sourceError.c_str());
        ImGui::PopStyleColor();
    }

    widgets::caption("PPM correction");
    int ppm = c.frequencyCorrectionPPM;
    if (ImGui::InputInt("##ppm", &ppm, 1, 10)) c.setFrequencyCorrectionPPM(std::clamp(ppm, -200, 200));
    ctx.probe.noteItem("ppmField");
}

}  // namespace

void drawAdvancedPanel(PanelContext& ctx, SourceSelector& sources, AdvancedPanelEdits& edits) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("ADVANCED");
    widgets::Card card("advanced");
    widgets::valueRow("Frequency", formatString("%.4f MHz", c.frequencyMHz.get()));
    ctx.probe.noteItem("advancedFrequency");
    widgets::valueRow("Strongest", formatString("%.1f dBFS", c.signalLevelDB.get()));
    widgets::valueRow("Channel", formatString("%.1f dBFS", c.channelLevelDB.get()));
    widgets::valueRow("Noise floor", formatString("%.1f dBFS", c.noiseFloorDB));
    // IQ the dongle delivered faster than the receiver kept up; a recording never drops.
    const auto dropped = static_cast<unsigned long long>(c.droppedSamples());
    widgets::valueRow("Dropped IQ", formatString("%llu samples", dropped));
    ctx.probe.noteItem("droppedSamples");
    widgets::divider();

    widgets::caption("Gain");
    if (ImGui::RadioButton("AGC (automatic)", c.agcEnabled())) c.setAgcEnabled(true);
    if (ImGui::RadioButton("Manual", !c.agcEnabled())) c.setAgcEnabled(false);
    ImGui::BeginDisabled(c.agcEnabled());
    float gainDB = static_cast<float>(c.manualGainTenthsDB() / 10.0);
    if (ImGui::SliderFloat("##manualGain", &gainDB, 0.0f, 49.6f, "%.1f dB"))
        c.setManualGainTenthsDB(static_cast<double>(gainDB) * 10.0);
    ImGui::EndDisabled();
    widgets::divider();

    widgets::caption("Squelch");
    bool squelch = c.squelchEnabled;
    if (ImGui::Checkbox("Enabled##squelch", &squelch)) c.squelchEnabled = squelch;
    float threshold = static_cast<float>(c.squelchThresholdDB.get());
    if (ImGui::SliderFloat("##threshold", &threshold, kLevelScaleBottomDBFS, kLevelScaleTopDBFS,
                           "Threshold %.0f dBFS"))
        c.squelchThresholdDB = static_cast<double>(threshold);
    widgets::divider();

    widgets::caption("Filters");
    bool notch = c.notchEnabled;
    if (ImGui::Checkbox("NOTCH", &notch)) c.notchEnabled = notch;
    float notchHz = static_cast<float>(c.notchFrequencyHz.get());
    if (ImGui::SliderFloat("##notchHz", &notchHz, 100.0f, 5'000.0f, "%.0f Hz", ImGuiSliderFlags_Logarithmic))
        c.notchFrequencyHz = static_cast<double>(notchHz);
    float nbThreshold = static_cast<float>(c.nbThreshold.get());
    if (ImGui::SliderFloat("##nb", &nbThreshold, 1.5f, 20.0f, "NB threshold %.1f×"))
        c.nbThreshold = static_cast<double>(nbThreshold);
    float nrAmount = static_cast<float>(c.nrAmount.get());
    if (ImGui::SliderFloat("##nr", &nrAmount, 0.0f, 1.0f, "NR amount %.2f")) c.nrAmount = static_cast<double>(nrAmount);
    widgets::divider();
    drawSource(ctx, sources, edits);
}
