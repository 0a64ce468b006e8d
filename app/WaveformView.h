#pragma once

#include <imgui.h>

#include <span>

// The audio oscilloscope: samples (about −1…+1) around a centre line. Main thread, stateless.
void drawWaveformView(const char* id, std::span<const float> samples, ImVec2 size);
