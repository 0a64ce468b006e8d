#pragma once

#include <span>

#include "device/IQSample.h"

// One step of the 40 kHz listening offset at 2,048,000 samples/s: 2π · 40,000 / 2,048,000.
inline constexpr double kOffsetStepRad = 0.1227184630308513;

// Multiplies the block by e^{jθ}, θ = phaseRad + n · kOffsetStepRad, turning a float rotator
// from the exact start phase, and returns the phase after the block in [-π, π]. Restarting
// each block from that exact phase keeps the rotator's float drift from accumulating.
double shiftBy40kHz(std::span<IQSample> block, double phaseRad);
