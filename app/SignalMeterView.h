#pragma once

#include <imgui.h>

// The signal meter: a segmented bar from minDB to maxDB with the level (dBFS) and SNR read-out
// and a scale of three labels (minimum, middle, maximum: "-90", "-50", "-10"). Main thread.
void drawSignalMeterView(const char* id, float levelDBFS, float snrDB, float minDB, float maxDB,
                         float width);
