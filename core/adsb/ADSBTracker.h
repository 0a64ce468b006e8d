#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "adsb/ADSBAircraft.h"
#include "adsb/ADSBFields.h"
#include "adsb/ADSBTrackUpdate.h"
#include "adsb/DecodedADSBMessage.h"

// One ADSBAircraft per address, updated from decoded squitters: identification, barometric
// altitude, velocity, and the position from the global CPR decode of an even/odd pair received
// less than 10 s apart. Records are kept until reset(); there is no expiry.
//
// Thread-safe: one mutex guards the maps, so handle() on the processing thread, and snapshot()
// and reset() on the main thread, may run concurrently. No callback runs under the lock.
class ADSBTracker {
public:
    using Clock = std::chrono::system_clock;
    static constexpr std::size_t kMaxTrail = 30;
    static constexpr std::chrono::milliseconds kPairWindow{10'000};

    ADSBTracker() = default;
    ADSBTracker(const ADSBTracker&) = delete;
    ADSBTracker& operator=(const ADSBTracker&) = delete;

    ADSBTrackUpdate handle(const DecodedADSBMessage& message) { return handle(message, Clock::now()); }
    ADSBTrackUpdate handle(const DecodedADSBMessage& message, Clock::time_point now);
    // Empties the aircraft and both pending-position maps.
    void reset();
    // A consistent copy of every record, newest lastSeen first (ties in address order).
    std::vector<ADSBAircraft> snapshot() const;

private:
    struct PendingPosition {
        ADSBMessageBits bits{};
        Clock::time_point time;
    };
    bool updatePosition(ADSBAircraft& record, const DecodedADSBMessage& message,
                        Clock::time_point now);

    mutable std::mutex mutex;
    std::map<std::string, ADSBAircraft> aircraft;
    std::map<std::string, PendingPosition> pendingEven;
    std::map<std::string, PendingPosition> pendingOdd;
};
