#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "adsb/ADSBTrackUpdate.h"

// BaseStation ("SBS-1") text lines as served on port 30003: 22 comma-separated fields ended by
// CR LF. By position:
//
//    1 "MSG"             2 transmission type   3 session id        4 aircraft id
//    5 hex address       6 flight id           7 date generated    8 time generated
//    9 date logged      10 time logged        11 callsign         12 altitude (ft)
//   13 ground speed (kt) 14 track (deg)      15 latitude         16 longitude
//   17 vertical rate (ft/min)  18 squawk     19 alert  20 emergency  21 SPI  22 on ground
//
// Dates are yyyy/mm/dd and times hh:mm:ss.sss in local time, as BaseStation writes them; flags
// are -1 for true and 0 for false. Fields a transmission type does not carry stay empty, and so
// do values the message did not give. The three ids have no meaning outside BaseStation's
// database and are 1.
enum class BaseStationTransmission {
    identification = 1,    // callsign
    airbornePosition = 3,  // altitude; latitude and longitude when this message fixed them
    airborneVelocity = 4,  // ground speed, track, vertical rate
};

// Which line a message makes: TC 1-4, TC 9-18 (barometric altitude) and TC 19. Others make none.
std::optional<BaseStationTransmission> baseStationTransmissionFor(int typeCode);

// The line for one track update (values from the aircraft record as the tracker left it), or
// nothing when the message makes no line. Generated is when the tracker took the message
// (aircraft.lastSeen, or `logged` when the record has no time); logged is `logged`.
std::optional<std::string> baseStationLine(const ADSBTrackUpdate& update,
                                           std::chrono::system_clock::time_point logged);
