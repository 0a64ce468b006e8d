#pragma once

#include <algorithm>

// Levels are dBFS per FFT bin: a complex tone of amplitude 1 (the full scale of the dongle's
// converter) at a bin centre reads 0 dBFS, whatever the FFT size or window. Noise reads by its
// power in one bin (2 kHz at 1,024 points and 2,048,000 samples/s), so it sits far below the
// total noise power: the 8-bit converter's own noise is near -78 dBFS per bin.

// What an empty (all-zero) bin reads.
inline constexpr float kMinLevelDBFS = -150.0f;

// The scale of the signal meter and the squelch slider. With the dongle's automatic gain an
// empty channel reads -45..-65 dBFS and the strongest bin of a strong FM station about -25, so
// both stay clear of the ends; only a signal close to clipping the converter reaches the top.
inline constexpr float kLevelScaleBottomDBFS = -90.0f;
inline constexpr float kLevelScaleTopDBFS = -10.0f;
// The spectrum and waterfall reach 0 dBFS, where a full-scale carrier's bin lies.
inline constexpr float kSpectrumBottomDBFS = -100.0f;
inline constexpr float kSpectrumTopDBFS = 0.0f;
// Where the squelch opens unless the user moves it: above an empty channel, below a station.
inline constexpr float kDefaultSquelchThresholdDBFS = -40.0f;

// Where levelDB falls on the meter's scale, 0 at the bottom and 1 at the top (clamped).
constexpr float levelScaleFraction(float levelDB) {
    return std::clamp(
        (levelDB - kLevelScaleBottomDBFS) / (kLevelScaleTopDBFS - kLevelScaleBottomDBFS), 0.0f,
        1.0f);
}
