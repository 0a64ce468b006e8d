#pragma once

#include <optional>

#include <nlohmann/json.hpp>

class SDRController;

// JSON null for an absent value.
template <typename T>
nlohmann::json optionalJSON(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The controller's published state as JSON, keyed by the property names. Large display
// arrays (spectrum, waterfall, audio spectrum and waveform) are left out.
nlohmann::json controllerStatusJSON(const SDRController& controller);

struct ADSBAircraft;
struct APRSPacket;
struct FoundStation;

nlohmann::json aircraftJSON(const ADSBAircraft& aircraft);
nlohmann::json packetJSON(const APRSPacket& packet);
nlohmann::json foundStationJSON(const FoundStation& station);
struct DABScanResult;
struct DABServiceInfo;
struct DABSubchannelInfo;
nlohmann::json dabScanResultJSON(const DABScanResult& result);
nlohmann::json dabServiceJSON(const DABServiceInfo& service);
nlohmann::json dabSubchannelJSON(const DABSubchannelInfo& subchannel);
// The ensemble as a DAB stream publishes it: label, EId, services, sub-channels, FIC figures.
nlohmann::json dabEnsembleJSON(const SDRController& controller);
// PI, PS, PTY, RT, TP, TA and the details record as the controller publishes them.
nlohmann::json rdsJSON(const SDRController& controller);
struct RDSProgrammeInfo;
struct RDSGroupStatistics;
nlohmann::json rdsDetailsJSON(const RDSProgrammeInfo& info);
nlohmann::json rdsStatisticsJSON(const RDSGroupStatistics& stats);
