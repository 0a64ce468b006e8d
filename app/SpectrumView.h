#pragma once

#include <imgui.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The IF spectrum: magnitudes (0…1, one per bin) as a filled trace with a decaying peak-hold
// line, a dB scale of five labels, the tuning marker, an optional highlighted range (the
// channel) and frequency labels under the plot. A tap reports its fraction across the plot.
// Main thread; keeps only its peak-hold values between frames.
class SpectrumView {
public:
    struct Input {
        std::span<const float> magnitudes{};
        std::optional<double> markerFraction{};
        std::string markerLabel{};
        // The dB values at the top and bottom of the plot, which the magnitudes 0 and 1 span.
        float topDB = 0.0f;
        float bottomDB = -100.0f;
        std::string leftFreqText{}, centerFreqText{}, rightFreqText{};
        std::optional<std::pair<double, double>> highlightRangeFraction{};
        std::string highlightLabel{};
        std::function<void(double fraction)> onTap{};
        // Text shown next to the pointer while hovering, e.g. the frequency under it.
        std::function<std::string(double fraction)> hoverText{};
    };

    // Draws into a rectangle of `size` at the cursor.
    void draw(const char* id, const Input& input, ImVec2 size);
    std::span<const float> peakValues() const { return peaks; }

private:
    std::vector<float> peaks;
};
