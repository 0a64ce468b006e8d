#include "StateFile.h"

#include "ContentViewState.h"
#include "UIProbe.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"
#include "platform/UserPaths.h"

namespace {

template <typename T>
nlohmann::json optionalJSON(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json stationsJSON(const std::vector<RadioStation>& stations) {
    nlohmann::json list = nlohmann::json::array();
    for (const RadioStation& s : stations)
        list.push_back({{"id", s.id.text()}, {"name", s.name}, {"frequencyMHz", s.frequencyMHz}, {"isFavorite", s.isFavorite}});
    return list;
}

nlohmann::json controllerJSON(const SDRController& c) {
    nlohmann::json j;
    j["isRunning"] = c.isRunning.get();
    j["frequencyMHz"] = c.frequencyMHz.get();
    j["statusText"] = c.statusText;
    j["rdsEnabled"] = c.rdsEnabled();
    j["rdsStationName"] = optionalJSON(c.rdsStationName);
    j["rdsRadioText"] = optionalJSON(c.rdsRadioText);
    j["rdsProgramType"] = optionalJSON(c.rdsProgramType);
    j["rdsPICode"] = optionalJSON(c.rdsPICode);
    j["rdsTP"] = c.rdsTP;
    j["rdsTA"] = c.rdsTA;
    j["spectrumBins"] = c.spectrum.size();
    j["waterfallRows"] = c.waterfallHistory.size();
    j["vfoMarkerFraction"] = c.vfoMarkerFraction;
    j["signalLevelDB"] = c.signalLevelDB.get();
    j["channelLevelDB"] = c.channelLevelDB.get();
    j["signalStrengthNormalized"] = c.signalStrengthNormalized;
    j["snrDB"] = c.snrDB;
    j["noiseFloorDB"] = c.noiseFloorDB;
    j["audioSpectrumBins"] = c.audioSpectrum.size();
    j["audioWaveformSamples"] = c.audioWaveform.size();
    j["agcEnabled"] = c.agcEnabled();
    j["manualGainTenthsDB"] = c.manualGainTenthsDB();
    j["squelchEnabled"] = c.squelchEnabled.get();
    j["squelchThresholdDB"] = c.squelchThresholdDB.get();
    j["nbEnabled"] = c.nbEnabled.get();
    j["nbThreshold"] = c.nbThreshold.get();
    j["nrEnabled"] = c.nrEnabled.get();
    j["nrAmount"] = c.nrAmount.get();
    j["notchEnabled"] = c.notchEnabled.get();
    j["notchFrequencyHz"] = c.notchFrequencyHz.get();
    j["isScanning"] = c.isScanning.get();
    j["scanProgress"] = c.scanProgress;
    j["scanBandName"] = optionalJSON(c.scanBandName);
    nlohmann::json found = nlohmann::json::array();
    for (const FoundStation& f : c.foundStations)
        found.push_back({{"frequencyMHz", f.frequencyMHz}, {"label", f.label}, {"peakDB", f.peakDB}});
    j["foundStations"] = found;
    j["isRecording"] = c.isRecording.get();
    j["recordingMode"] = c.recordingMode;
    j["lastRecordingURL"] = c.lastRecordingURL ? nlohmann::json(c.lastRecordingURL->string()) : nlohmann::json(nullptr);
    j["isAdvancedMode"] = c.isAdvancedMode;
    j["mode"] = std::string(rawValue(c.mode.get()));
    j["stereoEnabled"] = c.stereoEnabled.get();
    j["stereoDetected"] = c.stereoDetected.get();
    j["cpuUsagePercent"] = c.cpuUsagePercent;
    j["audioLevelL"] = c.audioLevelL;
    j["audioLevelR"] = c.audioLevelR;
    j["audioVolume"] = c.audioVolume();
    j["audioBalance"] = c.audioBalance.get();
    j["isNarrowbandFM"] = c.isNarrowbandFM();
    j["adsbEnabled"] = c.adsbEnabled();
    nlohmann::json aircraft = nlohmann::json::array();
    for (const ADSBAircraft& a : c.adsbAircraft)
        aircraft.push_back({{"icao", a.icao}, {"callsign", optionalJSON(a.callsign)}, {"altitude", optionalJSON(a.altitude)},
                            {"latitude", optionalJSON(a.latitude)}, {"longitude", optionalJSON(a.longitude)}});
    j["adsbAircraft"] = aircraft;
    j["adsbDebugInfo"] = c.adsbDebugInfo;
    j["aprsEnabled"] = c.aprsEnabled.get();
    j["aprsPackets"] = c.aprsPackets.size();
    j["stations"] = stationsJSON(c.stations);
    j["selectedStationID"] = c.selectedStationID ? nlohmann::json(c.selectedStationID->text()) : nlohmann::json(nullptr);
    j["dabScanning"] = c.dabScanning.get();
    j["dabStreamRunning"] = c.dabStreamRunning.get();
    j["frequencyCorrectionPPM"] = c.frequencyCorrectionPPM.get();
    return j;
}

}  // namespace

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
    view["centreView"] = facts.centreView;
    view["deviceLine"] = facts.deviceLine;
    view["tunerLine"] = facts.tunerLine;
    view["sourceDescription"] = facts.sourceDescription;
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
