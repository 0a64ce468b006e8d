#pragma once

#include <span>
#include <vector>

#include "stations/BandDefinition.h"

// Steps of a band scan: max(floor(span / step) + 1, 1).
int scanStepCount(const BandDefinition& band);
// The 20th percentile of the level history (index floor(count / 5) of the sorted copy).
float scanNoiseEstimate(std::vector<float> history);
// Level of the scanned channel in dB: the strongest bin of a centred 1,024-point power spectrum
// within half a step of its centre.
float scanChannelLevelDB(std::span<const float> power, double stepHz);
