#pragma once

#include <imgui.h>

#include <functional>
#include <optional>

class UIProbe;

// The tuning knob and its input surface. Scroll: 100 kHz a step (Alt 10 kHz, Shift 1 MHz;
// Alt is tested first). Drag: 0.25 × 10 kHz per pixel upwards (Alt × 1 kHz, Shift × 100 kHz).
// Double click: `onReset`. Below it the "−100", "−10", "+10", "+100" kHz buttons. Every
// adjustment turns the picture, easing out. Main thread.
class TuningKnob {
public:
    struct Input {
        double frequencyMHz = 0.0;
        std::function<void(double changeHz)> onAdjust{};
        std::function<void()> onReset{};
    };

    void draw(const char* id, const Input& input, UIProbe& probe);

    bool isDragging = false;
    double rotation = 0.0;  // degrees, the picture's target angle
    float knobSize = 118.0f;
    float scaleSize = 150.0f;

private:
    void turn(double degrees);
    void drawPicture(ImDrawList* list, ImVec2 centre, bool hot) const;

    std::optional<float> dragY;  // pointer height at the last drag event
    double shownRotation = 0.0;  // the animated angle drawn
};
