#pragma once

struct PanelContext;

// The Recordings section: "Type" (WAV audio or raw IQ), the record button and the last file.
void drawRecordingsPanel(PanelContext& context);
