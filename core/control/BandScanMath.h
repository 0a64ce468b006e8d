#pragma once

#include <span>
#include <vector>

#include "stations/BandDefinition.h"

// Steps of a band scan: max(floor(span / step) + 1, 1).
int scanStepCount(const BandDefinition& band);
// The 20th percentile of the level history (index floor(count / 5) of the sorted copy).
float scanNoiseEstimate(std::vector<float> history);
