#include "StationsPanel.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <optional>

#include "ContentViewState.h"
#include "FavoriteGroup.h"
#include "PanelContext.h"
#include "StationRow.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"
#include "platform/TextUtils.h"

namespace {

// A path field in a popup rather than a file dialog, which would need a desktop toolkit. The
// report line stays under the buttons.
void drawTransferButtons(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    std::string& path = ctx.state.bookmarkFilePath;
    if (widgets::pillButton("Import…", false)) ImGui::OpenPopup("importStations");
    ctx.probe.noteItem("importStations");
    ImGui::SameLine(0, 6);
    if (widgets::pillButton("Export…", false)) ImGui::OpenPopup("exportStations");
    ctx.probe.noteItem("exportStations");

    const auto pathField = [&](const char* id) {
        ImGui::SetNextItemWidth(320);
        const bool entered =
            ImGui::InputTextWithHint(id, "/path/to/bookmarks.csv", &path, ImGuiInputTextFlags_EnterReturnsTrue);
        ctx.probe.noteItem("bookmarkPathField");
        return entered;
    };
    if (ImGui::BeginPopup("importStations")) {
        widgets::caption("gqrx bookmarks.csv or CSV (name,frequency_mhz,favorite)");
        const bool entered = pathField("##importPath");
        const bool pressed = widgets::primaryButton("Import");
        ctx.probe.noteItem("importStationsConfirm");
        if ((entered || pressed) && !trimmedText(path).empty()) {
            c.importStations(trimmedText(path));
            ImGui::CloseCurrentPopup();
        }
        ImGui::EndPopup();
    }
    if (ImGui::BeginPopup("exportStations")) {
        static constexpr const char* kFormats[] = {"gqrx", "CSV"};
        widgets::segmented("exportFormat", kFormats, &ctx.state.bookmarkExportFormat, 320);
        ctx.probe.noteItem("exportFormatCSV");  // the last segment
        const bool entered = pathField("##exportPath");
        const bool pressed = widgets::primaryButton("Export");
        ctx.probe.noteItem("exportStationsConfirm");
        if ((entered || pressed) && !trimmedText(path).empty()) {
            c.exportStations(trimmedText(path),
                             ctx.state.bookmarkExportFormat == 1 ? BookmarkFormat::csv : BookmarkFormat::gqrx);
            ImGui::CloseCurrentPopup();
        }
        ImGui::EndPopup();
    }
    if (!c.stationsTransferReport.empty()) widgets::captionWrapped(c.stationsTransferReport.c_str());
}

}  // namespace

void drawStationsPanel(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("STATIONS");
    {
        widgets::Card card("save");
        widgets::caption(formatString("Save %.3f MHz as", c.frequencyMHz.get()).c_str());
        const float buttonWidth = 64.0f;
        ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - buttonWidth - 6);
        const bool entered = ImGui::InputTextWithHint("##newBookmarkName", "Station name", &ctx.state.newBookmarkName,
                                                      ImGuiInputTextFlags_EnterReturnsTrue);
        ctx.probe.noteItem("stationNameField");
        ImGui::SameLine(0, 6);
        const bool save = widgets::primaryButton("Save", ImVec2(buttonWidth, 0));
        ctx.probe.noteItem("saveStation");
        if (entered || save) {
            c.addCustomBookmark(ctx.state.newBookmarkName);
            ctx.state.newBookmarkName.clear();
        }
    }

    drawTransferButtons(ctx);

    if (c.stations.empty()) {
        widgets::captionWrapped("No saved stations yet. Tune a station and press Save.");
        return;
    }
    widgets::caption(formatString("%zu saved", c.stations.size()).c_str());
    // Operations change the list, so act on a copy of the chosen row after the loop.
    std::optional<RadioStation> select, toggle, remove;
    for (const RadioStation& s : c.stations) {
        const BandDefinition* band = bandContaining(s.frequencyMHz, BandDefinition::allBands());
        const StationRowResult r = drawStationRow(
            s.id.text().c_str(),
            {.name = s.name,
             .detail = band ? band->name : std::string(kOtherBandName),
             .frequencyText = formatString("%.3f", s.frequencyMHz),
             .selected = c.selectedStationID == s.id,
             .starOn = s.isFavorite,
             .offerRemove = true},
            ctx.probe, "station " + s.name);
        if (r.rowClicked) select = s;
        if (r.starClicked) toggle = s;
        if (r.removeRequested) remove = s;
    }
    if (select) c.selectStation(*select);
    if (toggle) c.toggleFavorite(*toggle);
    if (remove) c.removeCustomBookmark(*remove);
}
