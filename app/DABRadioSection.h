#pragma once

struct PanelContext;

// The Radio panel's DAB part: the Band III scan, the channels it found ("Show all" /
// "Show fewer"), the ensemble's services, the ensemble card and the way back to FM.
// Main thread.
void drawDABRadioSection(PanelContext& context);
