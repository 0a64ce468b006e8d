#pragma once

#include <imgui.h>

#include <span>

#include "dab/DABTypes.h"

// The constellation: one frame of differential QPSK points (any scale) in a square plot,
// scaled by their RMS radius so the four clusters sit at the same place whatever the gain,
// with faint marks where the ideal ±45°/±135° points lie. Titled "Constellation" with the
// point count (" points/frame"). Main thread, stateless.
void drawConstellationView(const char* id, std::span<const DABConstellationPoint> points, float side);
