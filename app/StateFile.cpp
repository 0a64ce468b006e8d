#include "StateFile.h"

#include <cmath>

#include "ContentViewState.h"
#include "DABViewMath.h"
#include "UIProbe.h"
#include "control/ControllerJSON.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"
#include "platform/UserPaths.h"

namespace {


nlohmann::json stationsJSON(const std::vector<RadioStation>& stations) {
    nlohmann::json list = nlohmann::json::array();
    for (const RadioStation& s : stations)
        list.push_back({{"id", s.id.text()}, {"name", s.name}, {"frequencyMHz", s.frequencyMHz}, {"isFavorite", s.isFavorite}});
    return list;
}

// The published state as the CLI prints it, plus the sizes and lists the window tests check.
nlohmann::json controllerJSON(const SDRController& c) {
    nlohmann::json j = controllerStatusJSON(c);
    j["spectrumBins"] = c.spectrum.size();
    j["waterfallRows"] = c.waterfallHistory.size();
    j["audioSpectrumBins"] = c.audioSpectrum.size();
    j["audioWaveformSamples"] = c.audioWaveform.size();
    nlohmann::json found = nlohmann::json::array();
    for (const FoundStation& f : c.foundStations)
        found.push_back({{"frequencyMHz", f.frequencyMHz}, {"label", f.label}, {"peakDB", f.peakDB}});
    j["foundStations"] = found;
    // A subset of each aircraft, so the file does not change with every message count.
    nlohmann::json aircraft = nlohmann::json::array();
    for (const ADSBAircraft& a : c.adsbAircraft)
        aircraft.push_back({{"icao", a.icao}, {"callsign", optionalJSON(a.callsign)}, {"altitude", optionalJSON(a.altitude)},
                            {"latitude", optionalJSON(a.latitude)}, {"longitude", optionalJSON(a.longitude)}});
    j["adsbAircraft"] = aircraft;
    j["aprsPackets"] = c.aprsPackets.size();
    j["stations"] = stationsJSON(c.stations);
    j["stationsTransferReport"] = c.stationsTransferReport;
    nlohmann::json results = nlohmann::json::array();
    for (const DABScanResult& r : c.dabResults) results.push_back(dabScanResultJSON(r));
    j["dabResults"] = results;
    nlohmann::json subchannels = nlohmann::json::array();
    for (const DABSubchannelInfo& s : c.dabSubchannelsInfo) subchannels.push_back(dabSubchannelJSON(s));
    j["dabSubchannelsInfo"] = subchannels;
    j["dabConstellation"] = constellationJSON(c.dabConstellation);
    return j;
}

}  // namespace

nlohmann::json constellationJSON(std::span<const DABConstellationPoint> points) {
    const ConstellationStats stats = constellationStats(points);
    nlohmann::json list = nlohmann::json::array();
    // Three significant digits at the points' own scale keep the file small and the phases exact enough.
    const float unit = stats.rmsRadius > 0.0f ? stats.rmsRadius / 1000.0f : 1.0f;
    for (const DABConstellationPoint& p : points)
        list.push_back({std::round(p.re / unit) * unit, std::round(p.im / unit) * unit});
    return {{"size", stats.count}, {"rmsRadius", stats.rmsRadius}, {"spreadDeg", stats.spreadDeg}, {"points", list}};
}

nlohmann::json windowStateJSON(const SDRController& controller, const ContentViewState& s, const UIProbe& probe,
                               const WindowFacts& facts) {
    nlohmann::json view;
    view["frequencyText"] = s.frequencyText;
    view["newBookmarkName"] = s.newBookmarkName;
    view["sidebarSection"] = std::string(displayName(s.sidebarSection));
    view["selectedScanBandName"] = s.selectedScanBandName;
    view["showAudioPanel"] = s.showAudioPanel;
    view["showSettingsPanel"] = s.showSettingsPanel;
    view["activeBandName"] = optionalJSON(s.activeBandName);
    view["dabSpanMHz"] = s.dabSpanMHz;
    view["settingsNotice"] = optionalJSON(s.settingsNotice);
    view["showAllDABChannels"] = s.showAllDABChannels;
    view["showDABAdvanced"] = s.showDABAdvanced;
    view["autoConnectAfterScan"] = s.autoConnectAfterScan;
    view["pendingDABChannel"] = s.pendingDABChannel ? nlohmann::json(s.pendingDABChannel->channel.label) : nlohmann::json(nullptr);
    view["dabLogosHeld"] = facts.dabLogosHeld;
    view["dabSlideshowShown"] = optionalJSON(facts.dabSlideshowShown);
    view["centreView"] = facts.centreView;
    view["deviceLine"] = facts.deviceLine;
    view["tunerLine"] = facts.tunerLine;
    view["sourceDescription"] = facts.sourceDescription;
    view["adsbFeeds"] = facts.adsbFeedsStatus;
    view["map"] = {{"online", facts.mapOnline},
                   {"tilesDrawn", facts.mapTilesDrawn},
                   {"texturesHeld", facts.mapTexturesHeld},
                   {"downloads", facts.mapDownloads},
                   {"cacheHits", facts.mapCacheHits},
                   {"failures", facts.mapFailures},
                   {"zoom", facts.mapZoom},
                   {"rotationDeg", facts.mapRotationDeg},
                   {"centerLatitudeDeg", facts.mapCenterLatitudeDeg},
                   {"centerLongitudeDeg", facts.mapCenterLongitudeDeg}};
    nlohmann::json controls = nlohmann::json::object();
    for (const auto& [name, r] : probe.rects())
        controls[name] = {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
    return {{"controller", controllerJSON(controller)}, {"view", view}, {"controls", controls}};
}

bool StateFileWriter::update(const nlohmann::json& state) {
    std::string text = state.dump(1);
    if (text == lastWritten) return false;
    std::string error;
    if (!writeFileAtomically(path, text, &error)) {
        DebugLog::writef("state file %s not written: %s", path.c_str(), error.c_str());
        return false;
    }
    lastWritten = std::move(text);
    return true;
}
