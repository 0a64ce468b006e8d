#include "feeds/ADSBBaseStationFormat.h"

#include <cstdio>
#include <ctime>

namespace {

// Message bits first..first+count-1, most significant first (bit 0 is the first sent).
std::uint32_t messageBits(const DecodedADSBMessage& message, int first, int count) {
    std::uint32_t value = 0;
    for (int k = first; k < first + count; ++k) value = (value << 1) | (message.rawBits[k] & 1u);
    return value;
}

// ",yyyy/mm/dd,hh:mm:ss.sss" in local time.
void appendDateTime(std::string& line, std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto sinceEpoch = t.time_since_epoch();
    // Floored, so a time before a whole second keeps its second and non-negative milliseconds.
    const auto whole = floor<seconds>(sinceEpoch);
    const auto millis = duration_cast<milliseconds>(sinceEpoch - whole).count();
    const std::time_t seconds = static_cast<std::time_t>(whole.count());
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, ",%04d/%02d/%02d,%02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    line += text;
}

template <typename... Args>
void appendFormatted(std::string& line, const char* format, Args... args) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, format, args...);
    if (length > 0) line.append(text, static_cast<std::size_t>(length));
}

const char* flag(bool on) { return on ? "-1" : "0"; }

// Fields 12-22 of an identification line: all empty.
void appendIdentificationTail(std::string& line) { line += ",,,,,,,,,,,"; }

void appendPositionFields(std::string& line, const ADSBTrackUpdate& update) {
    const ADSBAircraft& a = update.aircraft;
    // Bits 40-51 all zero mean "no altitude" in this message; the record would repeat an old one.
    const bool carriesAltitude = messageBits(update.message, 40, 12) != 0;
    line += ',';
    if (carriesAltitude && a.altitude) appendFormatted(line, "%d", *a.altitude);
    line += ",,";  // ground speed, track
    line += ',';
    if (update.positionUpdated && a.latitude) appendFormatted(line, "%.5f", *a.latitude);
    line += ',';
    if (update.positionUpdated && a.longitude) appendFormatted(line, "%.5f", *a.longitude);
    line += ",,";  // vertical rate, squawk
    // Surveillance status, ME bits 6-7 (DO-260 2.2.3.2.3.2): 1 permanent alert (emergency),
    // 2 temporary alert (identity code changed), 3 SPI.
    const std::uint32_t status = messageBits(update.message, 37, 2);
    line += ',';
    line += flag(status == 2);
    line += ',';
    line += flag(status == 1);
    line += ',';
    line += flag(status == 3);
    line += ",0";  // TC 9-18 are airborne
}

void appendVelocityFields(std::string& line, const ADSBTrackUpdate& update) {
    const ADSBAircraft& a = update.aircraft;
    // Subtypes 1 and 2 give speed and track over ground; 3 and 4 give airspeed and heading,
    // which these fields do not hold.
    const std::uint32_t subtype = messageBits(update.message, 37, 3);
    const bool overGround = subtype == 1 || subtype == 2;
    // A zero vertical-rate field (bits 69-77) means "no information".
    const bool carriesRate = messageBits(update.message, 69, 9) != 0;
    line += ",,";  // altitude
    if (overGround && a.groundSpeed) appendFormatted(line, "%.1f", *a.groundSpeed);
    line += ',';
    if (overGround && a.heading) appendFormatted(line, "%.1f", *a.heading);
    line += ",,,";  // latitude, longitude
    if (carriesRate && a.verticalRate) appendFormatted(line, "%d", *a.verticalRate);
    line += ",,,,,";  // squawk and the four flags
}

}  // namespace

std::optional<BaseStationTransmission> baseStationTransmissionFor(int typeCode) {
    if (typeCode >= 1 && typeCode <= 4) return BaseStationTransmission::identification;
    if (typeCode >= 9 && typeCode <= 18) return BaseStationTransmission::airbornePosition;
    if (typeCode == 19) return BaseStationTransmission::airborneVelocity;
    return std::nullopt;
}

std::optional<std::string> baseStationLine(const ADSBTrackUpdate& update,
                                           std::chrono::system_clock::time_point logged) {
    const auto transmission = baseStationTransmissionFor(update.message.typeCode);
    if (!transmission) return std::nullopt;
    std::string line;
    line.reserve(160);
    appendFormatted(line, "MSG,%d,1,1,", static_cast<int>(*transmission));
    line += update.message.icao;
    line += ",1";
    // A record without a time (never stamped) would date the message 1970: use the log time.
    const auto generated = update.aircraft.lastSeen.time_since_epoch().count() != 0
                               ? update.aircraft.lastSeen
                               : logged;
    appendDateTime(line, generated);
    appendDateTime(line, logged);
    line += ',';
    switch (*transmission) {
    case BaseStationTransmission::identification:
        line += update.aircraft.callsign.value_or("");
        appendIdentificationTail(line);
        break;
    case BaseStationTransmission::airbornePosition: appendPositionFields(line, update); break;
    case BaseStationTransmission::airborneVelocity: appendVelocityFields(line, update); break;
    }
    line += "\r\n";
    return line;
}
