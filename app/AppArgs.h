#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "SidebarSection.h"
#include "sim/SignalSource.h"

// The window's command line.
struct AppArgs {
    SignalSourceOptions source;
    bool sourceGiven = false;  // --source was on the command line
    std::optional<std::filesystem::path> documents{};
    std::optional<std::filesystem::path> screenshot{};
    double screenshotAfterSeconds = 3.0;
    std::optional<std::filesystem::path> stateFile{};
    bool autoStart = true;
    std::optional<SidebarSection> section{};
    bool revealDAB = false;                    // "--section dab": the Radio panel's DAB part
    std::optional<std::string> dabChannel{};   // a Band III channel ("12C") to stream at launch
    bool adsb = false;
    bool advanced = false;
    std::optional<std::string> popover{};  // "audio" or "settings"
    std::optional<double> spanMHz{};
    std::optional<std::string> tileURL{};  // "none" for the offline map
    int width = 1400;
    int height = 860;
};

extern const char* const kAppUsage;

// Throws std::invalid_argument with a message for a bad or unknown argument.
AppArgs parseAppArgs(const std::vector<std::string>& words);

// The tile server template: the flag, else $VANTIREL_TILE_URL, else OpenStreetMap's standard
// tiles; empty for the offline map ("none", "off" or an empty setting).
std::string tileTemplateFor(const std::optional<std::string>& flag, const char* environment);
