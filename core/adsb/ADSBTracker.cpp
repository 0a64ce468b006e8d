#include "adsb/ADSBTracker.h"

#include <algorithm>

ADSBTrackUpdate ADSBTracker::handle(const DecodedADSBMessage& message, Clock::time_point now) {
    std::lock_guard lock(mutex);
    auto [it, inserted] = aircraft.try_emplace(message.icao);
    ADSBAircraft& record = it->second;
    if (inserted) {
        record.id = message.icao;
        record.icao = message.icao;
    }
    record.lastSeen = now;
    record.messageCount += 1;
    const int tc = message.typeCode;
    bool positionUpdated = false;
    if (tc >= 1 && tc <= 4) {
        record.callsign = decodeADSBCallsign(message.rawBits);
    } else if (tc >= 9 && tc <= 18) {
        if (const auto altitude = decodeADSBAltitudeFeet(message.rawBits)) record.altitude = altitude;
        positionUpdated = updatePosition(record, message, now);
    } else if (tc == 19) {
        if (const auto v = decodeADSBVelocity(message.rawBits)) {
            record.groundSpeed = v->groundSpeedKnots;
            record.heading = v->headingDeg;
            if (v->verticalRateFpm) record.verticalRate = v->verticalRateFpm;
        }
    }
    return {.message = message, .aircraft = record, .positionUpdated = positionUpdated};
}

bool ADSBTracker::updatePosition(ADSBAircraft& record, const DecodedADSBMessage& message,
                                 Clock::time_point now) {
    const bool isOdd = message.rawBits[53] != 0;
    (isOdd ? pendingOdd : pendingEven)[message.icao] = {.bits = message.rawBits, .time = now};
    const auto even = pendingEven.find(message.icao);
    const auto odd = pendingOdd.find(message.icao);
    if (even == pendingEven.end() || odd == pendingOdd.end()) return false;
    const auto apart = even->second.time > odd->second.time ? even->second.time - odd->second.time
                                                            : odd->second.time - even->second.time;
    if (apart >= kPairWindow) return false;
    const auto fix = decodeADSBGlobalCPR(even->second.bits, odd->second.bits, isOdd);
    if (!fix) return false;
    record.latitude = fix->latitudeDeg;
    record.longitude = fix->longitudeDeg;
    record.trail.push_back({.latitudeDeg = fix->latitudeDeg, .longitudeDeg = fix->longitudeDeg});
    if (record.trail.size() > kMaxTrail) {
        record.trail.erase(record.trail.begin(),
                           record.trail.end() - static_cast<std::ptrdiff_t>(kMaxTrail));
    }
    return true;
}

void ADSBTracker::reset() {
    std::lock_guard lock(mutex);
    aircraft.clear();
    pendingEven.clear();
    pendingOdd.clear();
}

std::vector<ADSBAircraft> ADSBTracker::snapshot() const {
    std::vector<ADSBAircraft> out;
    {
        std::lock_guard lock(mutex);
        out.reserve(aircraft.size());
        for (const auto& [icao, record] : aircraft) out.push_back(record);
    }
    std::stable_sort(out.begin(), out.end(), [](const ADSBAircraft& a, const ADSBAircraft& b) {
        return a.lastSeen > b.lastSeen;
    });
    return out;
}
