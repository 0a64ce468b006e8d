#include "feeds/ADSBAircraftTable.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

namespace {

// Rounded to `decimals` places, so the file carries the precision the value has and no more.
double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

double secondsBetween(ADSBAircraftTable::Clock::time_point earlier,
                      ADSBAircraftTable::Clock::time_point later) {
    return std::max(0.0, std::chrono::duration<double>(later - earlier).count());
}

}  // namespace

void ADSBAircraftTable::record(const ADSBTrackUpdate& update, Clock::time_point now) {
    const ADSBAircraft& a = update.aircraft;
    std::lock_guard guard(lock);
    Entry& entry = entries[update.message.icao];
    if (a.callsign) entry.callsign = a.callsign;
    if (a.altitude) entry.altitudeFeet = a.altitude;
    if (a.groundSpeed) entry.groundSpeedKnots = a.groundSpeed;
    if (a.heading) entry.trackDeg = a.heading;
    if (a.verticalRate) entry.verticalRateFpm = a.verticalRate;
    if (a.latitude && a.longitude) {
        entry.latitudeDeg = a.latitude;
        entry.longitudeDeg = a.longitude;
    }
    if (update.positionUpdated) entry.lastPosition = now;
    entry.lastMessage = now;
    entry.messages += 1;
    const float level = update.message.signalLevel;
    entry.recentPower[entry.nextPower] = level > 0.0f ? level * level : 0.0f;
    entry.nextPower = (entry.nextPower + 1) % kSignalAverage;
    messages += 1;
}

nlohmann::json ADSBAircraftTable::aircraftJSON(const std::string& icao, const Entry& entry,
                                               Clock::time_point now) {
    std::string hex = icao;
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    nlohmann::json j = {{"hex", hex}};
    if (entry.callsign) {
        std::string flight = *entry.callsign;
        if (flight.size() < 8) flight.resize(8, ' ');  // the identification field's 8 characters
        j["flight"] = flight;
    }
    if (entry.altitudeFeet) j["alt_baro"] = *entry.altitudeFeet;
    if (entry.groundSpeedKnots) j["gs"] = rounded(*entry.groundSpeedKnots, 1);
    if (entry.trackDeg) j["track"] = rounded(*entry.trackDeg, 1);
    if (entry.verticalRateFpm) j["baro_rate"] = *entry.verticalRateFpm;
    if (entry.latitudeDeg && entry.longitudeDeg) {
        j["lat"] = rounded(*entry.latitudeDeg, 6);
        j["lon"] = rounded(*entry.longitudeDeg, 6);
        if (entry.lastPosition) j["seen_pos"] = rounded(secondsBetween(*entry.lastPosition, now), 1);
    }
    j["messages"] = entry.messages;
    j["seen"] = rounded(secondsBetween(entry.lastMessage, now), 1);
    double power = 0.0;
    std::size_t measured = 0;
    for (const float p : entry.recentPower) {
        if (p <= 0.0f) continue;
        power += p;
        ++measured;
    }
    // Mean power over the recent messages that carried a level, in dB below full scale.
    if (measured > 0) j["rssi"] = rounded(10.0 * std::log10(power / measured), 1);
    return j;
}

nlohmann::json ADSBAircraftTable::document(Clock::time_point now) {
    std::lock_guard guard(lock);
    std::erase_if(entries, [&](const auto& item) { return now - item.second.lastMessage >= kExpiry; });
    std::vector<const decltype(entries)::value_type*> newestFirst;
    newestFirst.reserve(entries.size());
    for (const auto& item : entries) newestFirst.push_back(&item);
    std::stable_sort(newestFirst.begin(), newestFirst.end(), [](const auto* a, const auto* b) {
        return a->second.lastMessage > b->second.lastMessage;
    });
    nlohmann::json aircraft = nlohmann::json::array();
    for (const auto* item : newestFirst) aircraft.push_back(aircraftJSON(item->first, item->second, now));
    const double unixSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    return {{"now", rounded(unixSeconds, 1)}, {"messages", messages}, {"aircraft", std::move(aircraft)}};
}

std::uint64_t ADSBAircraftTable::totalMessages() const {
    std::lock_guard guard(lock);
    return messages;
}

std::size_t ADSBAircraftTable::aircraftCount() const {
    std::lock_guard guard(lock);
    return entries.size();
}
