#include "FilterToggleButton.h"

#include "Widgets.h"

bool filterToggleButton(const char* label, bool& isOn, ImVec2 size) {
    if (!widgets::pillButton(label, isOn, size)) return false;
    isOn = !isOn;
    return true;
}
