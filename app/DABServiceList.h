#pragma once

#include <string>

struct PanelContext;

// The ensemble's services as rows (logo, label, "SId %04X", " kbps"); a click plays the
// service, or, with no stream running, makes it the one the next stream starts on. Rows are
// probed as `probePrefix` + the SId in hex. Main thread.
void drawDABServiceList(PanelContext& context, const std::string& probePrefix);
