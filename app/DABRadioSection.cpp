#include "DABRadioSection.h"

#include <imgui.h>

#include <cmath>

#include "ContentViewState.h"
#include "DABRow.h"
#include "DABServiceList.h"
#include "DABViewMath.h"
#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

bool isStreaming(const SDRController& c, const DABScanResult& r) {
    return c.dabStreamRunning && std::abs(c.frequencyMHz - r.channel.frequencyMHz) < 0.0005;
}

void drawScanCard(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::Card card("dabScan");
    widgets::caption("Band III · 38 channels, 5A – 13F");
    widgets::toggleSwitch("Play the strongest when done", &ctx.state.autoConnectAfterScan);
    ctx.probe.noteItem("dabAutoConnect");
    const float width = ImGui::GetContentRegionAvail().x;
    if (c.dabScanning) {
        if (widgets::primaryButton("Cancel scan", ImVec2(width, 30), theme::kBad)) c.cancelDABScan();
        ctx.probe.noteItem("dabScanButton");
        const std::string overlay = formatString("%s  %.0f%%", c.dabStatus.c_str(), c.dabScanProgress * 100.0);
        ImGui::PushStyleColor(ImGuiCol_PlotHistogram, theme::colour(theme::kAccent));
        ImGui::ProgressBar(static_cast<float>(c.dabScanProgress), ImVec2(width, 18), overlay.c_str());
        ImGui::PopStyleColor();
        return;
    }
    ImGui::BeginDisabled(c.dabStreamRunning);
    if (widgets::primaryButton("Scan Band III", ImVec2(width, 30))) {
        // The scan reads the stream; start the receiver first if it is off.
        if (!c.isRunning) c.start();
        c.startDABScan(ctx.state.autoConnectAfterScan);
    }
    ImGui::EndDisabled();
    ctx.probe.noteItem("dabScanButton");
    // While a stream runs the button rests: a scan would take the tuner away from it.
    if (!c.dabStreamRunning && !c.dabStatus.empty()) widgets::caption(c.dabStatus.c_str());
}

void drawChannels(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("CHANNELS");
    const std::vector<std::size_t> rows = shownDABChannels(c.dabResults, ctx.state.showAllDABChannels);
    ImGui::SameLine();
    widgets::caption(formatString("%zu of %zu channels", rows.size(), c.dabResults.size()).c_str());
    ImGui::SameLine();
    const char* toggle = ctx.state.showAllDABChannels ? "Show fewer" : "Show all";
    const float toggleWidth = 92.0f;
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x - toggleWidth);
    if (widgets::pillButton(toggle, ctx.state.showAllDABChannels, ImVec2(toggleWidth, 0)))
        ctx.state.showAllDABChannels = !ctx.state.showAllDABChannels;
    ctx.probe.noteItem("dabShowAll");

    std::optional<DABScanResult> chosen;
    for (std::size_t k : rows) {
        const DABScanResult& r = c.dabResults[k];
        // About 20 dB of SNR fills the dot.
        const float level = std::clamp(r.snrEstimate / 20.0f, 0.0f, 1.0f);
        const bool clicked = drawDABRow(r.id().c_str(),
                                        {.name = r.channel.label,
                                         .detail = r.hasSignal() ? formatString("SNR %.0f dB · %.0f dBFS", r.snrEstimate, r.strengthDB)
                                                                 : formatString("No ensemble · %.0f dBFS", r.strengthDB),
                                         .valueText = formatString("%.3f", r.channel.frequencyMHz),
                                         .selected = isStreaming(c, r) || (ctx.state.pendingDABChannel == r),
                                         .showPicture = false,
                                         .level = r.hasSignal() ? level : 0.0f,
                                         .enabled = !c.dabScanning},
                                        ctx.probe, "dabChannel " + r.channel.label);
        if (clicked) chosen = r;
    }
    if (!chosen || isStreaming(c, *chosen)) return;
    if (c.dabStreamRunning) {
        // One stream at a time: the new channel starts once this one has wound down.
        ctx.state.pendingDABChannel = chosen;
        c.stopDABStreaming(false);
    } else {
        c.selectDABChannel(*chosen);
    }
}

void drawEnsembleCard(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::Card card("dabEnsemble");
    {
        theme::FontScope title(theme::FontRole::title);
        ImGui::TextUnformatted(c.dabEnsembleLabel.empty() ? "Acquiring…" : c.dabEnsembleLabel.c_str());
    }
    ctx.probe.noteItem("dabEnsembleCard");
    if (!c.dabEnsembleLabel.empty()) {
        ImGui::SameLine();
        widgets::textRightAligned(formatString("EId 0x%04X", c.dabEnsembleId).c_str(), theme::kTextDim);
    }
    widgets::caption(formatString("%.3f MHz · %zu services", c.frequencyMHz.get(), c.dabServices.size()).c_str());
    if (!c.dabFICStatus.empty()) widgets::captionWrapped(c.dabFICStatus.c_str());
    ImGui::Dummy(ImVec2(0, 2));
    if (widgets::primaryButton("Back to FM", ImVec2(ImGui::GetContentRegionAvail().x, 30), IM_COL32(52, 64, 80, 255))) {
        ctx.state.pendingDABChannel.reset();
        c.stopDABStreaming(true);
    }
    ctx.probe.noteItem("dabBackToFM");
}

}  // namespace

void drawDABRadioSection(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("DAB+ DIGITAL RADIO");
    ctx.probe.noteItem("dabSection");
    if (ctx.state.revealDABSection) ImGui::SetScrollHereY(0.0f);
    drawScanCard(ctx);
    if (c.dabResults.empty()) {
        if (!c.dabScanning) {
            widgets::captionWrapped("Press Scan to find DAB stations.");
            ctx.probe.noteItem("dabEmptyHint");
        }
    } else {
        drawChannels(ctx);
    }
    const bool streaming = c.dabStreamRunning || ctx.state.pendingDABChannel;
    if (!streaming) return;
    ImGui::Dummy(ImVec2(0, 4));
    drawEnsembleCard(ctx);
    if (!c.dabServices.empty()) {
        widgets::sectionTitle("SERVICES");
        drawDABServiceList(ctx, "dabService ");
    }
}
