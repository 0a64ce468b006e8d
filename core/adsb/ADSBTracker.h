#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "adsb/ADSBAircraft.h"
#include "adsb/ADSBFields.h"
#include "adsb/ADSBTrackUpdate.h"
#include "adsb/DecodedADSBMessage.h"

// One ADSBAircraft per address, updated from decoded squitters: identification, barometric
// altitude, velocity and airborne position. The first position comes from the global CPR decode
// of an even/odd pair received less than 10 s apart; after that every position message is
// decoded locally against the aircraft's last position, so the track moves with each message.
// A position that would need more than 1,500 kt from the last one is refused, unless two global
// decodes in a row agree on it (the old position was the wrong one). Aircraft not heard for
// 60 s are dropped.
//
// Times are the stream's own (the message's sample index at 2,048,000 samples/s), so pairing and
// expiry hold under faster-than-real-time replay and clock jumps; `lastSeen` is the wall clock
// for display.
//
// Thread-safe: one mutex guards the maps, so handle() and expire() on the processing thread, and
// snapshot() and reset() on the main thread, may run concurrently. No callback runs under it.
class ADSBTracker {
public:
    using Clock = std::chrono::system_clock;
    static constexpr std::size_t kMaxTrail = 30;
    static constexpr double kSampleRateHz = 2'048'000.0;
    static constexpr double kPairWindowSeconds = 10.0;
    static constexpr double kExpirySeconds = 60.0;
    static constexpr double kLocalReferenceSeconds = 60.0;  // oldest position to decode against
    static constexpr double kMaxSpeedKnots = 1'500.0;

    ADSBTracker() = default;
    ADSBTracker(const ADSBTracker&) = delete;
    ADSBTracker& operator=(const ADSBTracker&) = delete;

    ADSBTrackUpdate handle(const DecodedADSBMessage& message) {
        return handle(message, Clock::now());
    }
    ADSBTrackUpdate handle(const DecodedADSBMessage& message, Clock::time_point now);
    // Drops aircraft last heard more than 60 s of stream time before `streamSample`.
    void expire(std::uint64_t streamSample);
    // Empties the aircraft and both pending-position maps.
    void reset();
    // A consistent copy of every record, newest lastSeen first (ties in address order).
    std::vector<ADSBAircraft> snapshot() const;

private:
    struct PendingPosition {
        ADSBMessageBits bits{};
        std::uint64_t sample = 0;
    };
    struct Fix {
        ADSBLatLon position;
        std::uint64_t sample = 0;
    };
    struct Track {
        ADSBAircraft record;
        std::uint64_t lastHeardSample = 0;
        std::optional<Fix> lastFix;
        std::optional<Fix> disputedFix;  // a refused global decode, confirmed by the next one
    };
    static double secondsBetween(std::uint64_t a, std::uint64_t b);
    bool updatePosition(Track& track, const DecodedADSBMessage& message);
    std::optional<ADSBLatLon> globalPosition(const DecodedADSBMessage& message);
    static bool plausible(const Fix& from, const ADSBLatLon& to, std::uint64_t sample);
    static void accept(Track& track, const ADSBLatLon& position, std::uint64_t sample);

    mutable std::mutex mutex;
    std::map<std::string, Track> aircraft;
    std::map<std::string, PendingPosition> pendingEven;
    std::map<std::string, PendingPosition> pendingOdd;
};
