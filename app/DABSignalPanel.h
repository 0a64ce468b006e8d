#pragma once

struct PanelContext;

// The right column's card while a DAB stream runs, in place of the RDS card: "RSSI", SNR,
// the PRS correlation, "FIC CRC" of 12, the carrier offset, "Audio" (stereo or mono) and the
// stream's FIC status line. Main thread.
void drawDABSignalPanel(PanelContext& context);
