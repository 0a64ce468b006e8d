#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "sim/APRSEncoder.h"

// One simulated APRS station beaconing its position.
struct APRSStation {
    AX25Address source;
    std::vector<AX25Address> path;
    APRSPositionReport report;        // report.timestamp is replaced by the simulated clock
    bool sendsTimestamp = false;      // "DDHHMMz" from the simulated clock
    double firstSeconds = 1.0;
    double intervalSeconds = 20.0;
};

// A packet as sent: for tests to compare what the receiver decodes.
struct APRSTransmission {
    std::size_t station = 0;
    std::uint64_t startSample = 0;
    APRSFrameFields fields;
    std::vector<std::uint8_t> frame;  // with FCS
};

// The audio of an APRS channel: packets from several stations on their schedules with silence
// between them (a packet that would overlap one on the air waits for it to end, plus a gap).
// The simulated clock starts on day 15 at 12:00:00 UTC. One caller at a time.
class APRSStationSchedule {
public:
    APRSStationSchedule(std::vector<APRSStation> stations, AFSKSettings settings);

    // Four stations within 20 km of the reference point: with and without timestamps and
    // comments, with and without digipeater paths.
    static std::vector<APRSStation> demoStations(double referenceLatitudeDeg,
                                                 double referenceLongitudeDeg);

    float nextAudioSample();
    void render(std::span<float> out);

    const std::vector<APRSTransmission>& transmissions() const { return sent; }
    std::uint64_t sampleIndex() const { return now; }

private:
    void startNext();

    std::vector<APRSStation> stations;
    AFSKSettings settings;
    std::vector<double> nextDueSeconds;
    std::vector<APRSTransmission> sent;
    std::vector<float> onAir;          // audio of the packet being sent
    std::size_t onAirPosition = 0;
    std::uint64_t now = 0;             // samples since the start
    std::uint64_t quietUntil = 0;      // no new packet before this sample
};
