#pragma once

struct PanelContext;

// The "AUDIO" popover: "Volume", "Balance", "Stereo", "De-emphasis" and the output levels;
// above them, while there is no sound device, why and a "Retry".
void drawAudioPanel(PanelContext& context);
