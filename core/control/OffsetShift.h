#pragma once

#include <span>

#include "device/IQSample.h"

// One step of the 40 kHz listening offset at 2,048,000 samples/s: 2π · 40,000 / 2,048,000.
inline constexpr double kOffsetStepRad = 0.1227184630308513;

// Multiplies the block by e^{jθ}, θ = phaseRad + n · kOffsetStepRad, and returns the phase
// after the block in [-π, π]. The rotator restarts from that exact phase each block and is
// carried in double between groups of 16 samples, so float drift never accumulates (the
// error stays near 1e-7 of the sample's magnitude).
double shiftBy40kHz(std::span<IQSample> block, double phaseRad);
