#pragma once

class TuningKnob;
struct PanelContext;

// The right column's "TUNER" section: the tuning knob with its step buttons, then the tuner
// control centre: gain, squelch, mode, "Filters" (NB, NR, NOTCH), the RDS name with "LOCKED",
// "Volume" and the stereo indicator ("STEREO", "MONO" or "OFF", a tap switches stereo).
void drawTunerPanel(PanelContext& context, TuningKnob& knob);
