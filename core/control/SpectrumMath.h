#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "control/LevelScale.h"

// The level and display arithmetic of the spectrum, waterfall, meters and audio-spectrum views.
//
// Means over N nearly equal runs of x (the last run ends at the last value); x unchanged when
// N >= x.size().
std::vector<float> downsample(std::span<const float> x, std::size_t count);

struct DBRange {
    float bottomDB = kSpectrumBottomDBFS;
    float topDB = kSpectrumTopDBFS;
};

struct SpectrumLevelsConfig {
    double fullScaleBinPower = 1.0;    // FFTAnalyzer::fullScaleBinPower() of the analyser used
    std::size_t averagedSegments = 1;  // spectra averaged into each power value
    // The range `norm` spans; none: the block's own min..max (the audio spectrum).
    std::optional<DBRange> normRange;
};

struct SpectrumLevels {
    std::vector<float> dB;             // 10 log10(power / fullScaleBinPower), dBFS
    std::vector<float> norm;           // dB on the norm range, clamped to 0..1
    float peakDB = kMinLevelDBFS;      // strongest bin
    float floorDB = kMinLevelDBFS;     // mean noise power per bin, from the 10th percentile
};
SpectrumLevels spectrumLevels(std::span<const float> power, const SpectrumLevelsConfig& config);

// How far the mean of noise lies above the 10th percentile of its bins, in dB, when each bin
// is the mean of `segments` spectra of white Gaussian noise (a gamma distribution of shape
// `segments`): 9.77 dB for one spectrum, 2.35 dB for eight.
float noiseTenthPercentileToMeanDB(std::size_t segments);

// s moves towards row by alpha; a missing or differently sized s becomes row.
void smoothTowards(std::vector<float>& s, std::span<const float> row, float alpha);

// Root mean square; 0 for an empty block.
float rms(std::span<const float> block);

// Strongest dB value of a centred spectrum within ±halfWidthHz of its centre (at least the
// centre bin and one bin either side); kMinLevelDBFS for an empty spectrum.
float strongestInChannelDB(std::span<const float> dB, double halfWidthHz, double sampleRateHz);
