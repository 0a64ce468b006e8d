#pragma once

#include <cstddef>
#include <span>
#include <vector>

// The display arithmetic of the spectrum, waterfall and audio-spectrum views.

// Means over N nearly equal runs of x (the last run ends at the last value); x unchanged when
// N >= x.size().
std::vector<float> downsample(std::span<const float> x, std::size_t count);

struct SpectrumLevels {
    std::vector<float> dB;    // 10 log10(max(power, 1e-10))
    std::vector<float> norm;  // (dB - min) / max(max - min, 1), clamped to 0..1
    float peakDB = -100.0f;   // max dB, -100 when empty
    float floorDB = -100.0f;  // 10th percentile of dB
};
SpectrumLevels spectrumLevels(std::span<const float> power);

// s moves towards row by alpha; a missing or differently sized s becomes row.
void smoothTowards(std::vector<float>& s, std::span<const float> row, float alpha);

// Root mean square; 0 for an empty block.
float rms(std::span<const float> block);

// Strongest dB value of a centred spectrum within ±halfWidthHz of its centre (at least the
// centre bin and one bin either side).
float strongestInChannelDB(std::span<const float> dB, double halfWidthHz, double sampleRateHz);
