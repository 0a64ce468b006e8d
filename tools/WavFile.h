#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A WAV file's first channel as floats: 8/16/24/32-bit PCM or 32-bit float, any rate.
struct WavAudio {
    double sampleRateHz = 0.0;
    int channels = 0;
    std::vector<float> samples;  // the first channel, full scale ±1
};

// Throws std::runtime_error with a reason for unreadable or unsupported files.
WavAudio readWavFirstChannel(const std::filesystem::path& path);

// Band-limited (windowed-sinc) resampling to `outRateHz`.
std::vector<float> resampleAudio(const std::vector<float>& in, double inRateHz, double outRateHz);
