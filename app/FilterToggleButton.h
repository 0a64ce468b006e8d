#pragma once

#include <imgui.h>

// A pill button bound to one filter flag ("NB", "NR", "NOTCH"); flips `isOn` when pressed and
// returns true then.
bool filterToggleButton(const char* label, bool& isOn, ImVec2 size = ImVec2(0, 0));
