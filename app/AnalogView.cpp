#include "AnalogView.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "ContentViewState.h"
#include "LineChartView.h"
#include "NowPlayingHeader.h"
#include "PanelContext.h"
#include "SpanPicker.h"
#include "Theme.h"
#include "control/LevelScale.h"
#include "TuningActions.h"
#include "UIProbe.h"
#include "ViewMath.h"
#include "WaveformView.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

// The channel each mode listens to, for the spectrum's highlight.
double channelWidthHz(const SDRController& c) {
    if (c.mode.get() == DemodMode::am) return 10'000.0;
    return c.isNarrowbandFM() ? 12'500.0 : 200'000.0;
}

std::string channelLabel(double hz) {
    return hz >= 1'000.0 ? formatString("%g kHz", hz / 1'000.0) : formatString("%g Hz", hz);
}

void plotTitle(const char* text) {
    theme::FontScope small(theme::FontRole::small);
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

}  // namespace

void AnalogView::noteWaterfallRows(std::span<const std::vector<float>> history) {
    if (history.empty()) {
        lastNewestRow = nullptr;
        return;
    }
    // Rows keep their buffers as the history shifts, so the old newest row's position says
    // how many rows arrived since the last frame.
    std::size_t arrived = 0;
    while (arrived < history.size() && history[arrived].data() != lastNewestRow) ++arrived;
    const bool continued = arrived < history.size();
    lastNewestRow = history.front().data();
    const auto now = std::chrono::steady_clock::now();
    if (continued && arrived > 0 && lastRowTime) {
        const double gap = std::chrono::duration<double>(now - *lastRowTime).count() / static_cast<double>(arrived);
        // Gaps over a second are pauses (stopped, scanning), not the row rate.
        if (gap < 1.0) secondsPerRow = secondsPerRow == 0.0 ? gap : secondsPerRow + (gap - secondsPerRow) * 0.1;
    }
    if (arrived > 0 || !continued) lastRowTime = now;
}

void AnalogView::draw(PanelContext& ctx, ImVec2 size) {
    SDRController& c = ctx.controller;
    const double f = c.frequencyMHz;
    const double span = std::min(ctx.state.dabSpanMHz, kFullSpanMHz);
    const ImVec2 origin = ImGui::GetCursorScreenPos();

    const std::optional<RadioStation> saved = [&]() -> std::optional<RadioStation> {
        for (const RadioStation& s : c.stations)
            if (std::abs(s.frequencyMHz - f) < 0.001) return s;
        return std::nullopt;
    }();
    static constexpr const char* kModeNames[] = {"WFM", "NFM", "AM"};
    const RDSProgrammeInfo& rds = c.rdsDetails;
    std::optional<std::string> nowPlaying;
    if (rds.radioTextPlusItemRunning && !rds.radioTextPlusTitle.empty())
        nowPlaying = rds.radioTextPlusArtist.empty() ? rds.radioTextPlusTitle
                                                     : rds.radioTextPlusArtist + " – " + rds.radioTextPlusTitle;
    drawNowPlayingHeader(
        {.frequencyMHz = f,
         .stationName = c.rdsStationName ? c.rdsStationName : (saved ? std::optional(saved->name) : std::nullopt),
         .radioText = c.rdsRadioText,
         .nowPlaying = nowPlaying,
         .hasRDS = c.rdsStationName.has_value() || c.rdsPICode.has_value(),
         .isStereo = c.stereoEnabled && c.stereoDetected,
         .channelLevelDB = c.channelLevelDB,
         .snrDB = c.snrDB,
         .isFavorite = c.isCurrentFrequencyFavorite(),
         .onToggleFavorite = [&c] { c.toggleFavoriteCurrent(); },
         .modeText = kModeNames[currentModeIndex(c)]},
        ctx.probe);
    ImGui::Dummy(ImVec2(0, 4));

    // Title row: "IF Spectrum" on the left, the span picker on the right.
    plotTitle("IF Spectrum (dBFS)");
    ImGui::SameLine();
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x - 248);
    drawSpanPicker(ctx.state.dabSpanMHz);
    ctx.probe.noteRect("spanPicker", ImGui::GetItemRectMin(), ImGui::GetItemRectMax());

    const float used = ImGui::GetCursorScreenPos().y - origin.y;
    const float audioHeight = 96.0f;
    const float rest = std::max(size.y - used - audioHeight - 40.0f, 200.0f);
    const float spectrumHeight = std::floor(rest * 0.44f);
    const float waterfallHeight = rest - spectrumHeight;

    const std::vector<float> shown = cropRow(c.spectrum, span);
    const std::optional<double> marker = croppedFraction(c.vfoMarkerFraction, c.spectrum.size(), span);
    const double bandwidth = channelWidthHz(c);
    const double half = bandwidth / 1e6 / span / 2;
    const auto tuneAt = [&c, f, span](double fraction) { c.tune(frequencyAtFraction(f, span, fraction), true); };
    spectrum.draw("if",
                  {.magnitudes = shown,
                   .markerFraction = marker,
                   .markerLabel = formatString("%.3f", f),
                   .topDB = kSpectrumTopDBFS,
                   .bottomDB = kSpectrumBottomDBFS,
                   .leftFreqText = formatString("%.3f", f - span / 2),
                   .centerFreqText = formatString("%.3f MHz", f),
                   .rightFreqText = formatString("%.3f", f + span / 2),
                   .highlightRangeFraction = marker ? std::optional(std::pair(*marker - half, *marker + half)) : std::nullopt,
                   .highlightLabel = channelLabel(bandwidth),
                   .onTap = tuneAt,
                   .hoverText = [f, span](double fraction) { return formatString("%.3f MHz", frequencyAtFraction(f, span, fraction)); }},
                  ImVec2(size.x, spectrumHeight));
    ctx.probe.noteItem("spectrum");

    noteWaterfallRows(c.waterfallHistory);
    const double seconds = secondsPerRow * static_cast<double>(SDRController::maxWaterfallRows);
    waterfall.draw("waterfall",
                   {.history = c.waterfallHistory,
                    .spanMHz = span,
                    .maxRows = SDRController::maxWaterfallRows,
                    .markerFraction = marker,
                    .leftScaleWidth = kSpectrumScaleWidth,
                    .topTimeLabel = "0 s",
                    .bottomTimeLabel = seconds > 0.0 ? formatString("%.0f s", -seconds) : std::string(),
                    .onTap = tuneAt},
                   ImVec2(size.x, waterfallHeight));
    ctx.probe.noteItem("waterfall");
    ImGui::Dummy(ImVec2(0, 2));

    const float gap = 10.0f;
    const float halfWidth = (size.x - gap) / 2;
    ImGui::BeginGroup();
    plotTitle("Audio Spectrum");
    drawLineChartView("audioSpectrum", c.audioSpectrum, theme::kWarn, ImVec2(halfWidth, audioHeight));
    ctx.probe.noteItem("audioSpectrum");
    ImGui::EndGroup();
    ImGui::SameLine(0, gap);
    ImGui::BeginGroup();
    plotTitle("Audio Waveform");
    drawWaveformView("waveform", c.audioWaveform, ImVec2(halfWidth, audioHeight));
    ctx.probe.noteItem("audioWaveform");
    ImGui::EndGroup();
}
