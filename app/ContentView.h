#pragma once

#include <imgui.h>

#include <functional>
#include <memory>
#include <optional>

#include "ADSBFeedControls.h"
#include "ADSBView.h"
#include "AdvancedPanel.h"
#include "AircraftMapView.h"
#include "AnalogView.h"
#include "ContentViewState.h"
#include "DABPictures.h"
#include "DABView.h"
#include "HeaderBar.h"
#include "SettingsPanel.h"
#include "StateFile.h"
#include "TuningKnob.h"
#include "UIProbe.h"

class SDRController;
class SourceSelector;

// The window's root view. It keeps the one controller for the life of the process and draws,
// each frame, the header, the left column (section icons and the chosen section's panel),
// the centre (the ADS-B view while ADS-B is on, else the DAB view while a DAB stream runs,
// else the analog view) and the right column (the tuner, the RDS card or, while DAB streams,
// the DAB signal card and, in advanced mode, the advanced panel). Main thread.
class ContentView {
public:
    struct Options {
        std::optional<MapTileSource> mapTiles{};  // absent: the offline map
        GeoPoint mapHome{.latitudeDeg = 45.815, .longitudeDeg = 15.982};
        std::function<void()> wake{};              // any thread: redraw soon
    };

    ContentView(std::shared_ptr<SDRController> controller, std::shared_ptr<SourceSelector> sources,
                Options options);

    void draw();
    // Section, span and map view from the remembered settings, and back into `base` (the radio
    // part comes from the controller, the rest from the popover's copy in `state`).
    void applyWindowSettings(const ReceiverSettings& settings);
    ReceiverSettings captureSettings() const;
    // The state file's content for the frame just drawn.
    nlohmann::json stateJSON() const;

    ContentViewState state;

    static constexpr float kLeftColumnWidth = 377.0f;
    static constexpr float kIconColumnWidth = 70.0f;
    static constexpr float kRightColumnWidth = 240.0f;
    static constexpr float kHeaderHeight = 58.0f;

private:
    void drawLeftColumn(PanelContext& context, float height);
    void drawCentre(PanelContext& context, ImVec2 size);
    void drawRightColumn(PanelContext& context, float height);
    void followController();

    std::shared_ptr<SDRController> controller;
    std::shared_ptr<SourceSelector> sources;
    UIProbe probe;
    HeaderBar header;
    TuningKnob knob;
    AnalogView analog;
    DABView dab;
    DABPictures pictures;
    AircraftMapView map;
    ADSBFeedControls feedControls;
    ADSBView adsb{map, feedControls};
    AdvancedPanelEdits advancedEdits;
    SettingsPanelEdits settingsEdits;
    std::optional<double> lastFrequencyMHz;
    enum class CentreView { analog, dab, adsb };
    CentreView centreView = CentreView::analog;
};
