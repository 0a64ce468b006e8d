#pragma once

#include <imgui.h>

class SourceSelector;
struct SettingsPanelEdits;
struct PanelContext;

// The window's top bar: the device lines, the status text, the "Level", "SNR", "AGC" and
// "CPU" chips, a button per demodulation mode, start/stop, the "AUDIO" popover, the advanced
// switch and the "SETTINGS" popover.
class HeaderBar {
public:
    void draw(PanelContext& context, const SourceSelector& sources, SettingsPanelEdits& settingsEdits, float height);

private:
    struct Popover {
        bool wasOpen = false;
        // When it last closed: the click outside that closes it must not reopen it when it
        // lands on the popover's own button.
        double closedAt = -1.0;
    };
    // A header button that opens a popover under itself, bound to a view-state flag.
    void popoverButton(const char* label, const char* popupID, bool& shown, Popover& popover, ImVec2 size,
                       PanelContext& context, const char* probeName);
    // Inside an open popover: Escape closes it.
    static void closeOnEscape(bool& shown, Popover& popover);
    Popover audio;
    Popover settings;
};
