#pragma once

#include <imgui.h>

class SourceSelector;
struct PanelContext;

// The window's top bar: the device lines, the status text, the "Level", "SNR", "AGC" and
// "CPU" chips, a button per demodulation mode, start/stop, the "AUDIO" popover, the advanced
// switch and the "SETTINGS" popover.
class HeaderBar {
public:
    void draw(PanelContext& context, const SourceSelector& sources, float height);

private:
    // A header button that opens a popover under itself, bound to a view-state flag.
    void popoverButton(const char* label, const char* popupID, bool& shown, double& closedAt, ImVec2 size,
                       PanelContext& context, const char* probeName);
    // When each popover last closed: the click outside that closes one must not reopen it
    // when it lands on the popover's own button.
    double audioClosedAt = -1.0;
    double settingsClosedAt = -1.0;
};
