#pragma once

#include <cstdint>
#include <vector>

#include "device/IQSample.h"

// Known-answer inputs for tests.
std::vector<IQSample> makeTone(double toneHz, double sampleRateHz, std::size_t count,
                               float amplitude = 1.0f, double phaseRad = 0.0);
std::vector<IQSample> makeNoise(std::uint64_t seed, std::size_t count, float sigma = 0.1f);
std::vector<float> makeRealTone(double toneHz, double sampleRateHz, std::size_t count,
                                float amplitude = 1.0f);
