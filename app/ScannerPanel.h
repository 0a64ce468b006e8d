#pragma once

struct PanelContext;

// The Scanner section: the "Band" picker, "Scan" / "Stop", progress, the stations found (a tap
// tunes, the star toggles a favourite) and "Save all".
void drawScannerPanel(PanelContext& context);
