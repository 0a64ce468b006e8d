#include "DABServiceList.h"

#include <optional>

#include "DABPictures.h"
#include "DABRow.h"
#include "PanelContext.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

void drawDABServiceList(PanelContext& ctx, const std::string& probePrefix) {
    SDRController& c = ctx.controller;
    std::optional<std::uint32_t> chosen;
    for (const DABServiceInfo& s : c.dabServices) {
        const std::string sid = formatString("%04X", s.serviceID);
        const auto logoPath = c.dabLogoPaths.find(s.serviceID);
        const bool clicked = drawDABRow(sid.c_str(),
                                        {.name = s.label,
                                         .detail = "SId " + sid,
                                         .valueText = s.bitrateKbps > 0 ? formatString("%d kbps", s.bitrateKbps) : "",
                                         .selected = c.dabSelectedServiceId == s.serviceID,
                                         .logo = logoPath != c.dabLogoPaths.end() ? ctx.pictures.logo(logoPath->second) : nullptr},
                                        ctx.probe, probePrefix + sid);
        if (clicked) chosen = s.serviceID;
    }
    if (!chosen) return;
    if (c.dabStreamRunning)
        c.selectDABService(*chosen);
    else
        c.dabSelectedServiceId = *chosen;
}
