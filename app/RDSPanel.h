#pragma once

struct PanelContext;

// The RDS card of the right column: station name, PI, PTY, radio text, TP and TA, or
// "NO RDS DATA".
void drawRDSPanel(PanelContext& context);
