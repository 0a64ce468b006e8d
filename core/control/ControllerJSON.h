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
// PI, PS, PTY, RT, TP, TA as the controller publishes them.
nlohmann::json rdsJSON(const SDRController& controller);
