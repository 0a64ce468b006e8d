#pragma once

struct PanelContext;

// The "AUDIO" popover: "Volume", "Balance", "Stereo", "De-emphasis" and the output levels.
void drawAudioPanel(PanelContext& context);
