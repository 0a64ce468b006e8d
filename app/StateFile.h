#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <span>
#include <optional>
#include <string>

class SDRController;
class UIProbe;
struct ContentViewState;

// Facts of the window that are not controller state, for the state file.
struct WindowFacts {
    std::string deviceLine{};
    std::string tunerLine{};
    std::string sourceDescription{};
    std::string centreView{};  // "analog", "dab" or "adsb"
    bool mapOnline = false;
    int mapTilesDrawn = 0;
    std::size_t mapTexturesHeld = 0;
    std::uint64_t mapDownloads = 0;
    std::uint64_t mapCacheHits = 0;
    std::uint64_t mapFailures = 0;
    double mapZoom = 0.0;
    double mapRotationDeg = 0.0;
    double mapCenterLatitudeDeg = 0.0;
    double mapCenterLongitudeDeg = 0.0;
    std::string adsbFeedsStatus{};  // ADSBFeeds::statusText()
    std::size_t dabLogosHeld = 0;           // logo files read so far
    std::optional<int> dabSlideshowShown{};  // the slideshow count whose image is drawn
};

struct DABConstellationPoint;
// The constellation for the state file: its size, RMS radius and phase spread (degrees from
// the nearest QPSK phase), and the points themselves, rounded, so a test can judge them.
nlohmann::json constellationJSON(std::span<const DABConstellationPoint> points);

// The controller's published state (keyed by the property names; spectrum and waterfall as
// their sizes), the window's view state and facts, and where named controls were drawn.
nlohmann::json windowStateJSON(const SDRController& controller, const ContentViewState& state,
                               const UIProbe& probe, const WindowFacts& facts);

// Writes the state file (through a temporary file and a rename) whenever its text changed.
class StateFileWriter {
public:
    explicit StateFileWriter(std::filesystem::path path) : path(std::move(path)) {}
    // Returns true when the file was written.
    bool update(const nlohmann::json& state);

private:
    std::filesystem::path path;
    std::string lastWritten;
};
