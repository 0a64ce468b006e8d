#include "adsb/ADSBTracker.h"

#include <algorithm>
#include <cmath>

namespace {

// Two positions closer than this are always plausible: it covers the CPR resolution and the
// time a message takes, whatever the interval.
constexpr double kPositionToleranceNM = 0.5;

}  // namespace

double ADSBTracker::secondsBetween(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t d = a > b ? a - b : b - a;
    return static_cast<double>(d) / kSampleRateHz;
}

ADSBTrackUpdate ADSBTracker::handle(const DecodedADSBMessage& message, Clock::time_point now) {
    std::lock_guard lock(mutex);
    auto [it, inserted] = aircraft.try_emplace(message.icao);
    Track& track = it->second;
    ADSBAircraft& record = track.record;
    if (inserted) {
        record.id = message.icao;
        record.icao = message.icao;
    }
    record.lastSeen = now;
    record.messageCount += 1;
    track.lastHeardSample = std::max(track.lastHeardSample, message.sampleIndex);
    const int tc = message.typeCode;
    bool positionUpdated = false;
    if (tc >= 1 && tc <= 4) {
        record.callsign = decodeADSBCallsign(message.rawBits);
    } else if (tc >= 9 && tc <= 18) {
        if (const auto altitude = decodeADSBAltitudeFeet(message.rawBits))
            record.altitude = altitude;
        positionUpdated = updatePosition(track, message);
    } else if (tc == 19) {
        if (const auto v = decodeADSBVelocity(message.rawBits)) {
            record.groundSpeed = v->groundSpeedKnots;
            record.heading = v->headingDeg;
            if (v->verticalRateFpm) record.verticalRate = v->verticalRateFpm;
        }
    }
    return {.message = message, .aircraft = record, .positionUpdated = positionUpdated};
}

std::optional<ADSBLatLon> ADSBTracker::globalPosition(const DecodedADSBMessage& message) {
    const bool isOdd = message.rawBits[53] != 0;
    (isOdd ? pendingOdd : pendingEven)[message.icao] = {.bits = message.rawBits,
                                                        .sample = message.sampleIndex};
    const auto even = pendingEven.find(message.icao);
    const auto odd = pendingOdd.find(message.icao);
    if (even == pendingEven.end() || odd == pendingOdd.end()) return std::nullopt;
    if (secondsBetween(even->second.sample, odd->second.sample) >= kPairWindowSeconds) {
        return std::nullopt;
    }
    return decodeADSBGlobalCPR(even->second.bits, odd->second.bits, isOdd);
}

bool ADSBTracker::plausible(const Fix& from, const ADSBLatLon& to, std::uint64_t sample) {
    const double hours = secondsBetween(from.sample, sample) / 3'600.0;
    return adsbDistanceNM(from.position, to) <= kPositionToleranceNM + kMaxSpeedKnots * hours;
}

void ADSBTracker::accept(Track& track, const ADSBLatLon& position, std::uint64_t sample) {
    ADSBAircraft& record = track.record;
    record.latitude = position.latitudeDeg;
    record.longitude = position.longitudeDeg;
    record.trail.push_back(
        {.latitudeDeg = position.latitudeDeg, .longitudeDeg = position.longitudeDeg});
    if (record.trail.size() > kMaxTrail) {
        record.trail.erase(record.trail.begin(),
                           record.trail.end() - static_cast<std::ptrdiff_t>(kMaxTrail));
    }
    track.lastFix = Fix{.position = position, .sample = sample};
    track.disputedFix.reset();
}

bool ADSBTracker::updatePosition(Track& track, const DecodedADSBMessage& message) {
    const std::uint64_t sample = message.sampleIndex;
    // The pair is stored whatever happens next, so a global decode stays possible.
    const std::optional<ADSBLatLon> global = globalPosition(message);
    const bool haveReference =
        track.lastFix && secondsBetween(track.lastFix->sample, sample) <= kLocalReferenceSeconds;
    if (haveReference) {
        const ADSBLatLon local = decodeADSBLocalCPR(message.rawBits, track.lastFix->position);
        if (plausible(*track.lastFix, local, sample)) {
            accept(track, local, sample);
            return true;
        }
    }
    if (!global) return false;
    if (!track.lastFix || plausible(*track.lastFix, *global, sample)) {
        accept(track, *global, sample);
        return true;
    }
    // Refused as a jump. Two global decodes in a row that agree mean the old track was wrong.
    if (track.disputedFix && plausible(*track.disputedFix, *global, sample)) {
        accept(track, *global, sample);
        return true;
    }
    track.disputedFix = Fix{.position = *global, .sample = sample};
    return false;
}

void ADSBTracker::expire(std::uint64_t streamSample) {
    std::lock_guard lock(mutex);
    const auto limit = static_cast<std::uint64_t>(kExpirySeconds * kSampleRateHz);
    if (streamSample <= limit) return;
    const std::uint64_t oldest = streamSample - limit;
    for (auto it = aircraft.begin(); it != aircraft.end();) {
        if (it->second.lastHeardSample < oldest) {
            pendingEven.erase(it->first);
            pendingOdd.erase(it->first);
            it = aircraft.erase(it);
        } else {
            ++it;
        }
    }
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
        for (const auto& [icao, track] : aircraft) out.push_back(track.record);
    }
    std::stable_sort(out.begin(), out.end(), [](const ADSBAircraft& a, const ADSBAircraft& b) {
        return a.lastSeen > b.lastSeen;
    });
    return out;
}
