#pragma once

struct PanelContext;

// The Stations section: the saved stations (a tap selects and plays, the star toggles a
// favourite, the context menu removes), and "Station name" with "Save" for the tuned frequency.
void drawStationsPanel(PanelContext& context);
