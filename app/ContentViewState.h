#pragma once

#include <optional>
#include <string>

#include "SidebarSection.h"
#include "dab/DABTypes.h"
#include "platform/ReceiverSettings.h"
#include "stations/BandDefinition.h"

// The window's own state: what the user is typing or has opened. Everything about the radio
// lives in the controller.
struct ContentViewState {
    std::string frequencyText = "92.10";
    std::string newBookmarkName{};
    std::string bookmarkFilePath{};  // the path typed in the Import…/Export… popup
    int bookmarkExportFormat = 0;    // 0 gqrx, 1 CSV
    SidebarSection sidebarSection = SidebarSection::radio;
    std::string selectedScanBandName = BandDefinition::fmBand().name;
    bool showAudioPanel = false;
    bool showDABAdvanced = false;
    bool showAllDABChannels = false;
    bool showDABAdvancedDiagnostics = false;
    bool showRDSDetail = false;
    bool autoConnectAfterScan = false;
    bool showSettingsPanel = false;
    std::optional<std::string> activeBandName{};
    double dabSpanMHz = 2.048;
    // A channel chosen while another streams: it starts once that stream has stopped.
    std::optional<DABScanResult> pendingDABChannel{};
    // Keeps the DAB part of the Radio panel scrolled into view until the user scrolls.
    bool revealDABSection = false;
    // The remembered hardware and feed choices the settings popover edits; the radio part
    // lives in the controller.
    ReceiverSettings settings{};
    // Told once per run: the settings file was damaged and set aside.
    std::optional<std::string> settingsNotice{};
};
