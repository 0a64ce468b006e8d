#pragma once

#include <imgui.h>

#include "ADSBFeedControls.h"
#include "AircraftMapView.h"

struct PanelContext;

// The centre of the window while ADS-B is on: the aircraft map, the aircraft table and, at the
// foot, the feeds to other programs. Both referenced objects belong to the window.
class ADSBView {
public:
    ADSBView(AircraftMapView& map, ADSBFeedControls& feeds) : map(map), feeds(feeds) {}
    void draw(PanelContext& context, ImVec2 size);

private:
    AircraftMapView& map;
    ADSBFeedControls& feeds;
};
