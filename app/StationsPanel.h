#pragma once

struct PanelContext;

// The Stations section: the saved stations (a tap selects and plays, the star toggles a
// favourite, the context menu removes), "Station name" with "Save" for the tuned frequency, and
// "Import…"/"Export…" for gqrx or CSV bookmark files, with the last report under them.
void drawStationsPanel(PanelContext& context);
