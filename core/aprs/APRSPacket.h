#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One decoded APRS packet (an AX.25 UI frame with a good FCS).
struct APRSPacket {
    std::string id;                        // random UUID, new per packet
    std::string sourceCallsign;            // "-SSID" appended when the SSID is not 0
    std::string destCallsign;              // same form
    std::string informationField;          // AX.25 information field, ISO Latin-1 as UTF-8
    std::optional<double> latitude;        // degrees, north positive, when a position decoded
    std::optional<double> longitude;       // degrees, east positive
    std::optional<std::string> comment;    // text after the position (UTF-8); absent without one
    std::chrono::system_clock::time_point timestamp;  // time of decoding
    std::vector<std::string> digipeaters;  // the path as received, "-SSID" as above
    // The frame as received, address field through information field, without the FCS: what
    // KISS clients get, so they can decode it their own way.
    std::vector<std::uint8_t> frame;
    bool operator==(const APRSPacket&) const = default;
};
