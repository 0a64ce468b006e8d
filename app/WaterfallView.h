#pragma once

#include <imgui.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "GLTexture.h"

// The waterfall: history rows (0…1 per bin, newest first) as an OpenGL texture of one pixel
// row per history row and one pixel per bin, coloured by the waterfall ramp, newest at the
// top. Rows keep a fixed height so a young history grows down from the top. A tap reports its
// fraction across the plot. Main (GL) thread.
class WaterfallView {
public:
    struct Input {
        std::span<const std::vector<float>> history{};
        double spanMHz = 2.048;  // centred crop applied to every row
        std::size_t maxRows = 100;
        std::optional<double> markerFraction{};
        float leftScaleWidth = 0.0f;
        std::string leftFreqText{}, centerFreqText{}, rightFreqText{};
        std::string topTimeLabel{}, bottomTimeLabel{};
        std::function<void(double fraction)> onTap{};
    };

    void draw(const char* id, const Input& input, ImVec2 size);

private:
    GLTexture texture;
};
