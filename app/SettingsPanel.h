#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/RTLSDRDeviceList.h"

struct PanelContext;

// What the settings popover keeps between frames: the dongles and sound devices found when it
// last opened (absent: look again).
struct SettingsPanelEdits {
    std::optional<std::vector<RTLSDRDeviceEntry>> dongles{};
    std::optional<std::vector<std::string>> soundDevices{};
};

// "rtltcp://HOST:PORT" with a non-empty host and a port 1..65535, or empty (no network dongle).
bool isNetworkDongleAddress(std::string_view text);

// The settings popover: dongle choice, network dongle, frequency correction (live), sound
// device, map tiles, and the feeds with their ports. Edits go to ctx.state.settings, which the
// window saves; all but the correction apply at the next start. Main thread, inside the popup.
void drawSettingsPanel(PanelContext& ctx, SettingsPanelEdits& edits);
