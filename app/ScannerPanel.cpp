#include "ScannerPanel.h"

#include <imgui.h>

#include <algorithm>
#include <optional>

#include "ContentViewState.h"
#include "PanelContext.h"
#include "StationRow.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

const BandDefinition& chosenBand(const ContentViewState& state) {
    const auto& bands = BandDefinition::allBands();
    const auto it = std::find_if(bands.begin(), bands.end(),
                                 [&](const BandDefinition& b) { return b.name == state.selectedScanBandName; });
    return it != bands.end() ? *it : BandDefinition::fmBand();
}

}  // namespace

void drawScannerPanel(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("SCANNER");
    const bool scanning = c.isScanning;
    {
        widgets::Card card("scan");
        widgets::caption("Band");
        const BandDefinition& band = chosenBand(ctx.state);
        ImGui::BeginDisabled(scanning);
        if (ImGui::BeginCombo("##band", band.name.c_str())) {
            for (const BandDefinition& b : BandDefinition::allBands()) {
                const std::string text = formatString("%s   %.3f–%.3f MHz", b.name.c_str(), b.startMHz, b.endMHz);
                if (ImGui::Selectable(text.c_str(), b.name == band.name)) ctx.state.selectedScanBandName = b.name;
            }
            ImGui::EndCombo();
        }
        ImGui::EndDisabled();
        ctx.probe.noteItem("scanBand");
        const std::string range = formatString("%.3f – %.3f MHz, %.1f kHz steps", band.startMHz, band.endMHz,
                                               band.stepHz / 1000.0);
        widgets::caption(range.c_str());

        const float width = ImGui::GetContentRegionAvail().x;
        if (scanning) {
            if (widgets::primaryButton("Stop", ImVec2(width, 30), theme::kBad)) c.stopScan();
        } else if (widgets::primaryButton("Scan", ImVec2(width, 30))) {
            // A scan needs the stream; start the receiver first if it is off.
            if (!c.isRunning) c.start();
            c.startScan(band);
        }
        ctx.probe.noteItem("scanButton");
        if (scanning || c.scanProgress > 0.0) {
            const std::string overlay = formatString("%s  %.0f%%", c.scanBandName.value_or(band.name).c_str(),
                                                     c.scanProgress * 100.0);
            ImGui::PushStyleColor(ImGuiCol_PlotHistogram, theme::colour(theme::kAccent));
            ImGui::ProgressBar(static_cast<float>(c.scanProgress), ImVec2(width, 18), overlay.c_str());
            ImGui::PopStyleColor();
        }
    }

    if (c.foundStations.empty()) {
        widgets::captionWrapped(scanning ? "Listening for stations…" : "Press Scan to search the band.");
        return;
    }
    widgets::caption(formatString("%zu found", c.foundStations.size()).c_str());
    ImGui::SameLine();
    const float saveWidth = 74.0f;
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x - saveWidth);
    const bool saveAll = widgets::pillButton("Save all", false, ImVec2(saveWidth, 0));
    ctx.probe.noteItem("saveAll");

    std::optional<FoundStation> tuneTo, toggle;
    for (const FoundStation& f : c.foundStations) {
        const StationRowResult r = drawStationRow(
            f.id.text().c_str(),
            {.name = f.label,
             .detail = formatString("Peak %.0f dBFS", f.peakDB),
             .frequencyText = formatString("%.3f", f.frequencyMHz),
             .selected = std::abs(f.frequencyMHz - c.frequencyMHz) < 0.0005,
             .starOn = c.isFoundStationFavorite(f)},
            ctx.probe, "found " + f.label);
        if (r.rowClicked) tuneTo = f;
        if (r.starClicked) toggle = f;
    }
    if (saveAll) c.saveAllFoundStations(std::vector<FoundStation>(c.foundStations));
    if (tuneTo && !scanning) c.tune(tuneTo->frequencyMHz, true);
    if (toggle) c.toggleFavorite(*toggle);
}
