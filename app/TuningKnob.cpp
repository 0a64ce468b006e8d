#include "TuningKnob.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Theme.h"
#include "UIProbe.h"
#include "ViewMath.h"
#include "Widgets.h"

namespace {

constexpr double kEaseSeconds = 0.12;

ImVec2 polar(ImVec2 c, float radius, float degrees) {
    // 0 degrees points up; angles grow clockwise on screen.
    const float a = (degrees - 90.0f) * std::numbers::pi_v<float> / 180.0f;
    return ImVec2(c.x + radius * std::cos(a), c.y + radius * std::sin(a));
}

}  // namespace

void TuningKnob::turn(double degrees) {
    const double before = rotation;
    rotation = wrapRotation(rotation + degrees);
    // Keep the animation continuous when the target was reduced modulo 360.
    shownRotation += rotation - (before + degrees);
}

void TuningKnob::draw(const char* id, const Input& in, UIProbe& probe) {
    ImGui::PushID(id);
    const ImGuiIO& io = ImGui::GetIO();
    const KnobModifiers modifiers{.option = io.KeyAlt, .shift = io.KeyShift};
    const float width = ImGui::GetContentRegionAvail().x;
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const ImVec2 surface(width, scaleSize + 8);
    ImGui::InvisibleButton("##knob", surface);
    ImGui::SetItemUsingMouseWheel();
    probe.noteItem("tuningKnob");
    const bool hovered = ImGui::IsItemHovered();
    const ImVec2 centre(origin.x + width / 2, origin.y + surface.y / 2);

    if (hovered && io.MouseWheel != 0.0f && in.onAdjust) {
        const double step = scrollStepHz(io.MouseWheel, modifiers);
        in.onAdjust(step);
        turn(step > 0 ? kKnobScrollDegrees : -kKnobScrollDegrees);
    }
    if (hovered && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) {
        if (in.onReset) in.onReset();
        turn(std::round(rotation / 360.0) * 360.0 - rotation);
    } else if (ImGui::IsItemActivated()) {
        dragY = io.MousePos.y;
        isDragging = true;
    }
    if (ImGui::IsItemActive() && dragY && io.MousePos.y != *dragY) {
        const float risen = *dragY - io.MousePos.y;  // moving up raises the frequency
        if (in.onAdjust) in.onAdjust(dragStepHz(risen, modifiers));
        turn(risen * kKnobDragDegreesPerPixel);
        dragY = io.MousePos.y;
    }
    if (ImGui::IsItemDeactivated()) {
        dragY.reset();
        isDragging = false;
    }
    if (hovered || isDragging) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeNS);

    const double blend = 1.0 - std::exp(-static_cast<double>(io.DeltaTime) / kEaseSeconds);
    shownRotation += (rotation - shownRotation) * blend;
    if (std::abs(rotation - shownRotation) < 0.01) shownRotation = rotation;
    drawPicture(ImGui::GetWindowDrawList(), centre, hovered || isDragging);

    // Step buttons, in kHz; U+2212 is the minus sign.
    struct Step {
        const char* label;
        double hz;
    };
    static constexpr Step kSteps[] = {{"\xE2\x88\x92" "100", -100'000.0},
                                      {"\xE2\x88\x92" "10", -10'000.0},
                                      {"+10", 10'000.0},
                                      {"+100", 100'000.0}};
    const float gap = 4.0f;
    const float buttonWidth = std::floor((width - 3 * gap) / 4);
    for (const Step& s : kSteps) {
        if (&s != kSteps) ImGui::SameLine(0, gap);
        if (ImGui::Button(s.label, ImVec2(buttonWidth, 26))) {
            if (in.onAdjust) in.onAdjust(s.hz);
            turn(s.hz > 0 ? kKnobButtonDegrees : -kKnobButtonDegrees);
        }
        probe.noteItem(std::string("step ") + s.label);
    }
    ImGui::PopID();
}

void TuningKnob::drawPicture(ImDrawList* list, ImVec2 c, bool hot) const {
    const float scaleR = scaleSize / 2;
    const float bodyR = knobSize / 2;
    // Fixed scale ring: a tick every 10 degrees, longer every 30.
    for (int k = 0; k < 36; ++k) {
        const float deg = static_cast<float>(k) * 10.0f;
        const bool major = k % 3 == 0;
        list->AddLine(polar(c, scaleR - (major ? 8.0f : 5.0f), deg), polar(c, scaleR, deg),
                      major ? theme::kTextDim : theme::kTextFaint, major ? 1.6f : 1.0f);
    }
    // Body: shadow, rim, face.
    list->AddCircleFilled(ImVec2(c.x, c.y + 3), bodyR + 2, IM_COL32(0, 0, 0, 110), 64);
    list->AddCircleFilled(c, bodyR, IM_COL32(52, 62, 76, 255), 64);
    list->AddCircleFilled(c, bodyR - 5, IM_COL32(33, 40, 50, 255), 64);
    list->AddCircle(c, bodyR, hot ? theme::withAlpha(theme::kAccent, 0.8f) : IM_COL32(70, 82, 98, 255), 64, 1.5f);
    // Knurling that turns with the knob.
    const float angle = static_cast<float>(std::fmod(shownRotation, 360.0));
    for (int k = 0; k < 30; ++k) {
        const float deg = angle + static_cast<float>(k) * 12.0f;
        list->AddLine(polar(c, bodyR - 3.5f, deg), polar(c, bodyR - 9.0f, deg), IM_COL32(78, 90, 108, 255), 1.2f);
    }
    // Indicator.
    list->AddLine(polar(c, bodyR * 0.30f, angle), polar(c, bodyR - 14.0f, angle), theme::kAccent, 3.0f);
    list->AddCircleFilled(polar(c, bodyR - 14.0f, angle), 3.5f, theme::kAccent);
    list->AddCircleFilled(c, bodyR * 0.22f, IM_COL32(44, 53, 66, 255), 32);
    list->AddCircle(c, bodyR * 0.22f, IM_COL32(70, 82, 98, 255), 32, 1.0f);
}
