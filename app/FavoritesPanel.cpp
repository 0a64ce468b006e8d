#include "FavoritesPanel.h"

#include <imgui.h>

#include <optional>

#include "FavoriteGroup.h"
#include "PanelContext.h"
#include "StationRow.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

void drawFavoritesPanel(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("FAVORITES");
    const std::vector<FavoriteGroup> groups = favoriteGroups(c.stations, BandDefinition::allBands());
    if (groups.empty()) {
        widgets::Card card("empty");
        widgets::captionWrapped("No favorites — add one with the star in Stations");
        return;
    }
    std::optional<RadioStation> select, toggle;
    for (const FavoriteGroup& group : groups) {
        ImGui::Dummy(ImVec2(0, 2));
        {
            theme::FontScope bold(theme::FontRole::bold);
            ImGui::TextUnformatted(group.band.name.c_str());
        }
        ImGui::SameLine();
        widgets::caption(formatString("%zu", group.stations.size()).c_str());
        for (const RadioStation& s : group.stations) {
            const StationRowResult r = drawStationRow(
                s.id.text().c_str(),
                {.name = s.name,
                 .detail = group.band.name,
                 .frequencyText = formatString("%.3f", s.frequencyMHz),
                 .selected = c.selectedStationID == s.id,
                 .starOn = true},
                ctx.probe, "favorite " + s.name);
            if (r.rowClicked) select = s;
            if (r.starClicked) toggle = s;
        }
    }
    if (select) c.selectStation(*select);
    if (toggle) c.toggleFavorite(*toggle);
}
