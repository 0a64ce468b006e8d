#pragma once

#include <imgui.h>

#include "AircraftMapView.h"

struct PanelContext;

// The centre of the window while ADS-B is on: the aircraft map and the aircraft table.
class ADSBView {
public:
    explicit ADSBView(AircraftMapView& map) : map(map) {}
    void draw(PanelContext& context, ImVec2 size);

private:
    AircraftMapView& map;
};
