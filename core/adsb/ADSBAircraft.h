#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct ADSBTrailPoint {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    bool operator==(const ADSBTrailPoint&) const = default;
};

// What is known about one aircraft, keyed by its 24-bit address.
struct ADSBAircraft {
    std::string id;                       // equal to icao
    std::string icao;                     // six upper-case hex digits
    std::optional<std::string> callsign;  // flight identification, trimmed
    std::optional<int> altitude;          // barometric, feet
    std::optional<double> groundSpeed;    // knots
    std::optional<double> heading;        // track over ground, degrees [0, 360) from north
    std::optional<int> verticalRate;      // feet per minute, positive up
    std::optional<double> latitude;       // degrees, north positive
    std::optional<double> longitude;      // degrees, east positive, [-180, 180)
    std::chrono::system_clock::time_point lastSeen;
    int messageCount = 0;
    std::vector<ADSBTrailPoint> trail;  // decoded positions, oldest first, at most 30
    bool operator==(const ADSBAircraft&) const = default;
};
