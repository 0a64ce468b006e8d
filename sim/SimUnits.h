#pragma once

#include <cmath>
#include <numbers>

// Rates and unit conversions shared by the simulated world. Levels are linear amplitudes on the
// dongle's full scale (1.0 = the quantiser's limit) at the reference tuner gain.
inline constexpr double kSimSampleRateHz = 2'048'000.0;

inline double dbfsToAmplitude(double levelDBFS) { return std::pow(10.0, levelDBFS / 20.0); }
inline double amplitudeToDBFS(double amplitude) { return 20.0 * std::log10(amplitude); }

inline double hzToCyclesPerSample(double frequencyHz, double sampleRateHz) {
    return frequencyHz / sampleRateHz;
}
inline double hzToRadiansPerSample(double frequencyHz, double sampleRateHz) {
    return 2.0 * std::numbers::pi * frequencyHz / sampleRateHz;
}
