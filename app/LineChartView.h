#pragma once

#include <imgui.h>

#include <span>

// A small filled line chart of values in 0…1 (the audio spectrum). Main thread, stateless.
void drawLineChartView(const char* id, std::span<const float> values, ImU32 color, ImVec2 size);
