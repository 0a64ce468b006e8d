#include "ContentView.h"

#include <algorithm>

#include "DABSignalPanel.h"
#include "DecodersPanel.h"
#include "FavoriteGroup.h"
#include "FavoritesPanel.h"
#include "PanelContext.h"
#include "RDSPanel.h"
#include "RadioPanel.h"
#include "RecordingsPanel.h"
#include "ScannerPanel.h"
#include "SidebarIconList.h"
#include "SourceSelector.h"
#include "StationsPanel.h"
#include "Theme.h"
#include "TunerPanel.h"
#include "TuningActions.h"
#include "control/ControllerSettings.h"
#include "platform/SettingsStore.h"
#include "control/SDRController.h"
#include "ViewMath.h"

namespace {

constexpr ImGuiWindowFlags kColumnFlags = ImGuiWindowFlags_NoSavedSettings;
constexpr float kPad = 12.0f;

// A scrolling column with a background and inner padding.
bool beginColumn(const char* id, ImVec2 size, ImU32 background, bool scroll = true) {
    ImGui::PushStyleColor(ImGuiCol_ChildBg, theme::colour(background));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(kPad, kPad));
    const bool open = ImGui::BeginChild(id, size, false,
                                        kColumnFlags | ImGuiWindowFlags_AlwaysUseWindowPadding |
                                            (scroll ? 0 : ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse));
    ImGui::PopStyleVar();
    ImGui::PopStyleColor();
    return open;
}

}  // namespace

ContentView::ContentView(std::shared_ptr<SDRController> c, std::shared_ptr<SourceSelector> s, Options options)
    : controller(std::move(c)), sources(std::move(s)),
      map(std::move(options.mapTiles), std::move(options.wake), options.mapHome),
      feedControls(controller, controller->dependencies().documentsDir) {}

void ContentView::followController() {
    SDRController& c = *controller;
    // The frequency field shows the tuned frequency whenever it changes elsewhere.
    const double f = c.frequencyMHz;
    if (!lastFrequencyMHz || *lastFrequencyMHz != f) {
        state.frequencyText = frequencyFieldText(f);
        lastFrequencyMHz = f;
        if (state.activeBandName) {
            const auto& bands = BandDefinition::allBands();
            const auto it = std::find_if(bands.begin(), bands.end(),
                                         [&](const BandDefinition& b) { return b.name == *state.activeBandName; });
            if (it == bands.end() || f < it->startMHz || f > it->endMHz) state.activeBandName.reset();
        }
    }
    // A channel picked while another streamed starts once that stream has wound down.
    if (state.pendingDABChannel && !c.dabStreamRunning) {
        const DABScanResult next = *state.pendingDABChannel;
        state.pendingDABChannel.reset();
        c.selectDABChannel(next);
    }
    if (state.sidebarSection != SidebarSection::radio) state.revealDABSection = false;
}

void ContentView::draw() {
    probe.beginFrame();
    followController();
    PanelContext context{.controller = *controller, .state = state, .probe = probe, .pictures = pictures};

    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos);
    ImGui::SetNextWindowSize(viewport->WorkSize);
    ImGui::Begin("Vantirel", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoBringToFrontOnFocus |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoScrollWithMouse);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    header.draw(context, *sources, settingsEdits, kHeaderHeight);

    // The three columns sit edge to edge under the header.
    ImGui::SetCursorScreenPos(ImVec2(origin.x, origin.y + kHeaderHeight));
    const float width = viewport->WorkSize.x;
    const float height = viewport->WorkSize.y - kHeaderHeight;
    drawLeftColumn(context, height);
    ImGui::SameLine(0, 0);
    const float centreWidth = std::max(width - kLeftColumnWidth - kRightColumnWidth, 320.0f);
    drawCentre(context, ImVec2(centreWidth, height));
    ImGui::SameLine(0, 0);
    drawRightColumn(context, height);
    ImGui::End();
    probe.endFrame();
}

void ContentView::drawLeftColumn(PanelContext& ctx, float height) {
    ImGui::PushStyleColor(ImGuiCol_ChildBg, theme::colour(theme::kPanel));
    ImGui::BeginChild("icons", ImVec2(kIconColumnWidth, height), false, kColumnFlags | ImGuiWindowFlags_NoScrollbar);
    ImGui::Dummy(ImVec2(0, 8));
    drawSidebarIconList(state.sidebarSection, probe);
    ImGui::EndChild();
    ImGui::PopStyleColor();
    ImGui::SameLine(0, 0);
    const ImVec2 lineTop = ImGui::GetCursorScreenPos();
    ImGui::GetWindowDrawList()->AddLine(lineTop, ImVec2(lineTop.x, lineTop.y + height), theme::kBorder);
    if (beginColumn("panel", ImVec2(kLeftColumnWidth - kIconColumnWidth, height), theme::kPanel)) {
        // The user's own scrolling ends the pull towards the DAB section.
        if (ImGui::IsWindowHovered() && ImGui::GetIO().MouseWheel != 0.0f) state.revealDABSection = false;
        switch (state.sidebarSection) {
        case SidebarSection::radio: drawRadioPanel(ctx); break;
        case SidebarSection::stations: drawStationsPanel(ctx); break;
        case SidebarSection::favorites: drawFavoritesPanel(ctx); break;
        case SidebarSection::scanner: drawScannerPanel(ctx); break;
        case SidebarSection::decoders: drawDecodersPanel(ctx); break;
        case SidebarSection::recordings: drawRecordingsPanel(ctx); break;
        }
    }
    ImGui::EndChild();
}

void ContentView::drawCentre(PanelContext& ctx, ImVec2 size) {
    if (beginColumn("centre", size, theme::kWindow, false)) {
        const ImVec2 inner = ImGui::GetContentRegionAvail();
        // One centre view at a time: ADS-B while it is on, else DAB while it streams.
        centreView = controller->adsbEnabled()       ? CentreView::adsb
                     : controller->dabStreamRunning.get() ? CentreView::dab
                                                      : CentreView::analog;
        switch (centreView) {
        case CentreView::adsb: adsb.draw(ctx, inner); break;
        case CentreView::dab: dab.draw(ctx, inner); break;
        case CentreView::analog: analog.draw(ctx, inner); break;
        }
    }
    ImGui::EndChild();
}

void ContentView::drawRightColumn(PanelContext& ctx, float height) {
    const ImVec2 top = ImGui::GetCursorScreenPos();
    ImGui::GetWindowDrawList()->AddLine(top, ImVec2(top.x, top.y + height), theme::kBorder);
    const float width = ImGui::GetContentRegionAvail().x;
    if (beginColumn("right", ImVec2(std::max(width, kRightColumnWidth), height), theme::kPanel)) {
        drawTunerPanel(ctx, knob);
        // Asked for explicitly, so above the (taller) decoder card.
        if (controller->isAdvancedMode) drawAdvancedPanel(ctx, *sources, advancedEdits);
        if (controller->dabStreamRunning.get())
            drawDABSignalPanel(ctx);
        else
            drawRDSPanel(ctx);
    }
    ImGui::EndChild();
}

void ContentView::applyWindowSettings(const ReceiverSettings& s) {
    state.settings = s;
    feedControls.applyStored(s.feeds);
    if (const auto section = sidebarSectionFromString(s.sidebarSection)) state.sidebarSection = *section;
    for (double span : kDABSpanOptionsMHz)
        if (std::abs(span - s.spectrumSpanMHz) < 1e-9) state.dabSpanMHz = span;
    if (s.mapView)
        map.setCamera({.center = {.latitudeDeg = s.mapView->centerLatitudeDeg, .longitudeDeg = s.mapView->centerLongitudeDeg},
                       .zoom = s.mapView->zoom});
}

ReceiverSettings ContentView::captureSettings() const {
    ReceiverSettings s = ::captureSettings(*controller, state.settings);
    s.sidebarSection = std::string(displayName(state.sidebarSection));
    s.spectrumSpanMHz = state.dabSpanMHz;
    if (map.hasUserView()) {
        const MapCamera& cam = map.camera();
        s.mapView = MapViewSettings{.centerLatitudeDeg = cam.center.latitudeDeg,
                                    .centerLongitudeDeg = cam.center.longitudeDeg,
                                    .zoom = cam.zoom};
    }
    return s;
}

nlohmann::json ContentView::stateJSON() const {
    const MapTileFetcher* fetcher = map.tileLayer().tileFetcher();
    const bool showingADSB = centreView == CentreView::adsb;
    static constexpr const char* kCentreNames[] = {"analog", "dab", "adsb"};
    const WindowFacts facts{.deviceLine = sources->deviceLine(),
                            .tunerLine = sources->tunerLine(),
                            .sourceDescription = sources->description(),
                            .centreView = kCentreNames[static_cast<int>(centreView)],
                            .mapOnline = map.tileLayer().isOnline(),
                            .mapTilesDrawn = showingADSB ? map.tilesDrawn() : 0,
                            .mapTexturesHeld = map.tileLayer().texturesHeld(),
                            .mapDownloads = fetcher ? fetcher->downloads() : 0,
                            .mapCacheHits = fetcher ? fetcher->cacheHits() : 0,
                            .mapFailures = fetcher ? fetcher->failures() : 0,
                            .mapZoom = map.camera().zoom,
                            .mapRotationDeg = map.camera().rotationDeg,
                            .mapCenterLatitudeDeg = map.camera().center.latitudeDeg,
                            .mapCenterLongitudeDeg = map.camera().center.longitudeDeg,
                            .adsbFeedsStatus = feedControls.feeds().statusText(),
                            .dabLogosHeld = pictures.logosHeld(),
                            .dabSlideshowShown = pictures.slideshowShown()};
    nlohmann::json j = windowStateJSON(*controller, state, probe, facts);
    j["view"]["settings"] = SettingsStore::toJSON(captureSettings());
    return j;
}
