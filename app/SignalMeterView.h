#pragma once

#include <imgui.h>

// The signal meter: a segmented bar from minDB to maxDB with the level and SNR read-out and a
// scale of three labels (minimum, middle, maximum: "-120", "-80", "-40"). Main thread.
void drawSignalMeterView(const char* id, float signalLevelDB, float snrDB, float minDB, float maxDB,
                         float width);
