#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "adsb/ADSBTrackUpdate.h"

// The sky as aircraft.json tells it to map pages (tar1090, dump1090's own page) and other
// readers: the latest values of each aircraft from the stream of track updates, with what only
// the stream knows — message counts, signal strength and when the last message and the last
// position arrived. An aircraft silent for kExpiry leaves the table.
//
// Thread-safe: record() on the processing thread and document() on the writer's thread share one
// mutex, held for a few field copies. record() allocates only for a new aircraft.
class ADSBAircraftTable {
public:
    using Clock = std::chrono::system_clock;
    static constexpr std::chrono::seconds kExpiry{300};
    static constexpr std::size_t kSignalAverage = 8;  // messages averaged for rssi

    ADSBAircraftTable() = default;
    ADSBAircraftTable(const ADSBAircraftTable&) = delete;
    ADSBAircraftTable& operator=(const ADSBAircraftTable&) = delete;

    void record(const ADSBTrackUpdate& update, Clock::time_point now);
    // The aircraft.json document at `now`, newest aircraft first:
    //   now (unix seconds), messages (total), aircraft[]: hex (lower case), flight (callsign
    //   padded to 8 characters), alt_baro (ft), gs (kt), track (deg), baro_rate (ft/min),
    //   lat, lon, seen, seen_pos (s), messages, rssi (dBFS). Unknown values are left out.
    nlohmann::json document(Clock::time_point now);
    std::uint64_t totalMessages() const;
    std::size_t aircraftCount() const;

private:
    struct Entry {
        std::optional<std::string> callsign;
        std::optional<int> altitudeFeet;
        std::optional<double> groundSpeedKnots;
        std::optional<double> trackDeg;
        std::optional<int> verticalRateFpm;
        std::optional<double> latitudeDeg;
        std::optional<double> longitudeDeg;
        Clock::time_point lastMessage;
        std::optional<Clock::time_point> lastPosition;
        std::uint64_t messages = 0;
        std::array<float, kSignalAverage> recentPower{};  // level squared, 0 when not measured
        std::size_t nextPower = 0;
    };

    static nlohmann::json aircraftJSON(const std::string& icao, const Entry& entry,
                                       Clock::time_point now);

    mutable std::mutex lock;
    std::map<std::string, Entry> entries;  // by upper-case address
    std::uint64_t messages = 0;
};
