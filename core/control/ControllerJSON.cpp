#include "control/ControllerJSON.h"

#include <chrono>
#include <ctime>

#include "control/SDRController.h"
#include "rds/RDSProgramme.h"
#include "platform/DebugLog.h"

nlohmann::json controllerStatusJSON(const SDRController& c) {
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
    j["rdsDetails"] = rdsDetailsJSON(c.rdsDetails);
    j["rdsStatistics"] = rdsStatisticsJSON(c.rdsStatistics);
    j["rdsPilotLocked"] = c.rdsPilotLocked;
    j["vfoMarkerFraction"] = c.vfoMarkerFraction;
    j["signalLevelDB"] = c.signalLevelDB.get();
    j["channelLevelDB"] = c.channelLevelDB.get();
    j["signalStrengthNormalized"] = c.signalStrengthNormalized;
    j["snrDB"] = c.snrDB;
    j["noiseFloorDB"] = c.noiseFloorDB;
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
    j["isRecording"] = c.isRecording.get();
    j["recordingMode"] = c.recordingMode;
    j["lastRecordingURL"] =
        c.lastRecordingURL ? nlohmann::json(c.lastRecordingURL->string()) : nlohmann::json(nullptr);
    j["isAdvancedMode"] = c.isAdvancedMode;
    j["mode"] = std::string(rawValue(c.mode.get()));
    j["stereoEnabled"] = c.stereoEnabled.get();
    j["stereoDetected"] = c.stereoDetected.get();
    j["cpuUsagePercent"] = c.cpuUsagePercent;
    j["droppedSamples"] = c.droppedSamples();
    j["audioLevelL"] = c.audioLevelL;
    j["audioLevelR"] = c.audioLevelR;
    j["audioVolume"] = c.audioVolume();
    j["audioOutputAvailable"] = c.audioOutputAvailable;
    j["audioOutputProblem"] = optionalJSON(c.audioOutputProblem);
    j["audioBalance"] = c.audioBalance.get();
    j["isNarrowbandFM"] = c.isNarrowbandFM();
    j["adsbEnabled"] = c.adsbEnabled();
    j["adsbDebugInfo"] = c.adsbDebugInfo;
    j["aprsEnabled"] = c.aprsEnabled.get();
    j["selectedStationID"] =
        c.selectedStationID ? nlohmann::json(c.selectedStationID->text()) : nlohmann::json(nullptr);
    j["dabScanning"] = c.dabScanning.get();
    j["dabScanProgress"] = c.dabScanProgress;
    j["dabStatus"] = c.dabStatus;
    j["dabFreqOffsetHz"] = c.dabFreqOffsetHz;
    j["dabFICStatus"] = c.dabFICStatus;
    j["dabActive"] = c.dabActive.get();
    j["dabEnsembleLabel"] = c.dabEnsembleLabel;
    j["dabEnsembleId"] = c.dabEnsembleId;
    j["dabSelectedServiceId"] = optionalJSON(c.dabSelectedServiceId);
    j["dabPRSCorrelation"] = c.dabPRSCorrelation;
    j["dabFICCRCCount"] = c.dabFICCRCCount;
    j["dabIsStereo"] = c.dabIsStereo;
    j["dabRSHuntMissStreak"] = c.dabRSHuntMissStreak;
    j["dabCifCounter"] = c.dabCifCounter;
    j["dabSuperframeCount"] = c.dabSuperframeCount;
    j["dabStreamRunning"] = c.dabStreamRunning.get();
    j["dabDynamicLabel"] = optionalJSON(c.dabDynamicLabel);
    j["dabDLPlusArtist"] = optionalJSON(c.dabDLPlusArtist);
    j["dabDLPlusTitle"] = optionalJSON(c.dabDLPlusTitle);
    j["dabSlideshowPath"] = c.dabSlideshowPath ? nlohmann::json(c.dabSlideshowPath->string()) : nlohmann::json(nullptr);
    j["dabSlideshowCount"] = c.dabSlideshowCount;
    j["dabLogoPaths"] = nlohmann::json::object();
    for (const auto& [sid, path] : c.dabLogoPaths) j["dabLogoPaths"][formatString("%04X", sid)] = path.string();
    j["dabServices"] = nlohmann::json::array();
    for (const DABServiceInfo& s : c.dabServices) j["dabServices"].push_back(dabServiceJSON(s));
    j["frequencyCorrectionPPM"] = c.frequencyCorrectionPPM.get();
    return j;
}

namespace {

std::string isoTime(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

nlohmann::json aircraftJSON(const ADSBAircraft& a) {
    nlohmann::json trail = nlohmann::json::array();
    for (const ADSBTrailPoint& p : a.trail) trail.push_back({p.latitudeDeg, p.longitudeDeg});
    return {{"id", a.id},
            {"icao", a.icao},
            {"callsign", optionalJSON(a.callsign)},
            {"altitude", optionalJSON(a.altitude)},
            {"groundSpeed", optionalJSON(a.groundSpeed)},
            {"heading", optionalJSON(a.heading)},
            {"verticalRate", optionalJSON(a.verticalRate)},
            {"latitude", optionalJSON(a.latitude)},
            {"longitude", optionalJSON(a.longitude)},
            {"lastSeen", isoTime(a.lastSeen)},
            {"messageCount", a.messageCount},
            {"trail", trail}};
}

nlohmann::json packetJSON(const APRSPacket& p) {
    return {{"id", p.id},
            {"sourceCallsign", p.sourceCallsign},
            {"destCallsign", p.destCallsign},
            {"digipeaters", p.digipeaters},
            {"informationField", p.informationField},
            {"latitude", optionalJSON(p.latitude)},
            {"longitude", optionalJSON(p.longitude)},
            {"comment", optionalJSON(p.comment)},
            {"timestamp", isoTime(p.timestamp)}};
}

nlohmann::json foundStationJSON(const FoundStation& s) {
    return {{"id", s.id.text()}, {"frequencyMHz", s.frequencyMHz}, {"label", s.label}, {"peakDB", s.peakDB}};
}

nlohmann::json rdsJSON(const SDRController& c) {
    return {{"rdsPICode", optionalJSON(c.rdsPICode)},
            {"rdsStationName", optionalJSON(c.rdsStationName)},
            {"rdsProgramType", optionalJSON(c.rdsProgramType)},
            {"rdsRadioText", optionalJSON(c.rdsRadioText)},
            {"rdsTP", c.rdsTP},
            {"rdsTA", c.rdsTA},
            {"rdsDetails", rdsDetailsJSON(c.rdsDetails)}};
}

nlohmann::json rdsDetailsJSON(const RDSProgrammeInfo& info) {
    nlohmann::json j;
    j["pi"] = optionalJSON(info.pi);
    j["pty"] = info.pty;
    j["tp"] = info.tp;
    j["ta"] = info.ta;
    j["music"] = optionalJSON(info.music);
    j["stereo"] = optionalJSON(info.stereo);
    j["artificialHead"] = optionalJSON(info.artificialHead);
    j["compressed"] = optionalJSON(info.compressed);
    j["dynamicPTY"] = optionalJSON(info.dynamicPTY);
    j["ps"] = info.ps;
    j["radioText"] = info.radioText;
    j["ptyName"] = info.ptyName;
    j["alternativeFrequenciesKHz"] = info.alternativeFrequenciesKHz;
    j["clockTime"] = info.clockTime ? nlohmann::json(info.clockTime->localISO8601()) : nlohmann::json(nullptr);
    j["extendedCountryCode"] = optionalJSON(info.extendedCountryCode);
    j["languageCode"] = optionalJSON(info.languageCode);
    j["sendsVersionB"] = info.sendsVersionB;
    j["radioTextPlusArtist"] = info.radioTextPlusArtist;
    j["radioTextPlusTitle"] = info.radioTextPlusTitle;
    j["radioTextPlusItemRunning"] = info.radioTextPlusItemRunning;
    return j;
}

nlohmann::json rdsStatisticsJSON(const RDSGroupStatistics& stats) {
    return {{"groupsPerSecond", stats.groupsPerSecond}, {"blockErrorRate", stats.blockErrorRate},
            {"groups", stats.groups},                   {"blocksCorrected", stats.blocksCorrected},
            {"blocksLost", stats.blocksLost},           {"synced", stats.synced}};
}

nlohmann::json dabScanResultJSON(const DABScanResult& r) {
    return {{"id", r.id()},
            {"label", r.channel.label},
            {"frequencyMHz", r.channel.frequencyMHz},
            {"strengthDB", r.strengthDB},
            {"snrEstimate", r.snrEstimate},
            {"hasSignal", r.hasSignal()}};
}

nlohmann::json dabServiceJSON(const DABServiceInfo& s) {
    return {{"serviceID", s.serviceID}, {"label", s.label}, {"bitrateKbps", s.bitrateKbps}};
}

nlohmann::json dabSubchannelJSON(const DABSubchannelInfo& s) {
    return {{"id", s.id},
            {"startCU", s.startCU},
            {"sizeCU", s.sizeCU},
            {"protection", s.protection},
            {"isShort", s.isShort},
            {"bitrateKbps", s.bitrateKbps},
            {"linkedServiceName", optionalJSON(s.linkedServiceName)},
            {"linkedServiceId", optionalJSON(s.linkedServiceId)},
            {"linkedIsAudio", optionalJSON(s.linkedIsAudio)}};
}

nlohmann::json dabEnsembleJSON(const SDRController& c) {
    nlohmann::json services = nlohmann::json::array();
    for (const DABServiceInfo& s : c.dabServices) services.push_back(dabServiceJSON(s));
    nlohmann::json subchannels = nlohmann::json::array();
    for (const DABSubchannelInfo& s : c.dabSubchannelsInfo) subchannels.push_back(dabSubchannelJSON(s));
    return {{"dabEnsembleLabel", c.dabEnsembleLabel},
            {"dabEnsembleId", c.dabEnsembleId},
            {"dabServices", services},
            {"dabSubchannelsInfo", subchannels},
            {"dabSelectedServiceId", optionalJSON(c.dabSelectedServiceId)}};
}
