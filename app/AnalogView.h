#pragma once

#include <imgui.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "SpectrumView.h"
#include "WaterfallView.h"

struct PanelContext;

// The centre of the window for analog reception: the now-playing strip, the "IF Spectrum"
// with the "Span" picker, the waterfall, the "Audio Spectrum" and the audio waveform.
// Taps on the spectrum or waterfall tune to the frequency under them.
class AnalogView {
public:
    void draw(PanelContext& context, ImVec2 size);

private:
    // Measures how often waterfall rows arrive, for the waterfall's time scale.
    void noteWaterfallRows(std::span<const std::vector<float>> history);

    SpectrumView spectrum;
    WaterfallView waterfall;
    const float* lastNewestRow = nullptr;
    std::optional<std::chrono::steady_clock::time_point> lastRowTime;
    double secondsPerRow = 0.0;
};
