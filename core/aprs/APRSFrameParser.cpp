#include "aprs/APRSFrameParser.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {

constexpr std::size_t kMinFrameBytes = 17;  // two addresses, control, PID, one info byte, FCS

constexpr std::array<std::uint16_t, 256> makeCRCTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0x8408u : c >> 1;
        table[n] = static_cast<std::uint16_t>(c);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kCRCTable = makeCRCTable();

struct Address {
    std::string callsign;  // with "-SSID" when the SSID is not 0
    bool isLast = false;
};

// AX.25 2.2, 3.12: six characters shifted left by one, then the SSID byte.
Address decodeAddress(std::span<const std::uint8_t> seven) {
    std::string call;
    for (std::size_t k = 0; k < 6; ++k) {
        const char c = static_cast<char>(seven[k] >> 1);
        if (c != ' ') call.push_back(c);
    }
    const auto first = call.find_first_not_of(" \t\r\n");
    call = first == std::string::npos ? std::string()
                                      : call.substr(first, call.find_last_not_of(" \t\r\n") - first + 1);
    const int ssid = (seven[6] >> 1) & 0x0F;
    if (ssid > 0) call += "-" + std::to_string(ssid);
    return {.callsign = call, .isLast = (seven[6] & 1u) != 0};
}

// A whole field of digits (and at most one '.') as a number; anything else fails.
std::optional<double> parseNumber(std::string_view s, bool allowPoint) {
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (allowPoint && c == '.'))) return std::nullopt;
    }
    double v = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

std::uint16_t ax25FrameCheck(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) crc = static_cast<std::uint16_t>((crc >> 8) ^ kCRCTable[(crc ^ b) & 0xFFu]);
    return static_cast<std::uint16_t>(~crc);
}

bool ax25FrameCheckMatches(std::span<const std::uint8_t> frame) {
    if (frame.size() < kMinFrameBytes) return false;
    const std::uint16_t expected =
        static_cast<std::uint16_t>(frame[frame.size() - 2] | (frame[frame.size() - 1] << 8));
    return ax25FrameCheck(frame.first(frame.size() - 2)) == expected;
}

std::optional<APRSPacket> parseAX25Frame(std::span<const std::uint8_t> frame) {
    if (frame.size() < kMinFrameBytes) return std::nullopt;
    const std::size_t end = frame.size() - 2;  // the FCS belongs to no field
    const Address dest = decodeAddress(frame.subspan(0, 7));
    const Address source = decodeAddress(frame.subspan(7, 7));
    APRSPacket packet;
    packet.frame.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(end));
    packet.sourceCallsign = source.callsign;
    packet.destCallsign = dest.callsign;
    std::size_t i = 14;
    if (!source.isLast) {
        while (end - i >= 7) {
            const Address digi = decodeAddress(frame.subspan(i, 7));
            packet.digipeaters.push_back(digi.callsign);
            i += 7;
            if (digi.isLast) break;
        }
    }
    i += 2;  // control and protocol identifier
    if (i >= end) return std::nullopt;
    const std::string_view info(reinterpret_cast<const char*>(frame.data() + i), end - i);
    packet.informationField = latin1ToUTF8(info);
    const char dti = info[0];
    if (dti == '!' || dti == '=' || dti == '/' || dti == '@') {
        if (const auto position = parseAPRSUncompressedPosition(info.substr(1))) {
            packet.latitude = position->latitudeDeg;
            packet.longitude = position->longitudeDeg;
            packet.comment = latin1ToUTF8(position->comment);
        }
    }
    return packet;
}

std::optional<APRSPosition> parseAPRSUncompressedPosition(std::string_view text) {
    // Day-hour-minute (z, /) or hour-minute-second (h) timestamp.
    if (text.size() >= 8 && (text[6] == 'z' || text[6] == '/' || text[6] == 'h')) text.remove_prefix(7);
    if (text.size() < 19) return std::nullopt;
    const auto latDeg = parseNumber(text.substr(0, 2), false);
    const auto latMin = parseNumber(text.substr(2, 5), true);
    const auto lonDeg = parseNumber(text.substr(9, 3), false);
    const auto lonMin = parseNumber(text.substr(12, 5), true);
    if (!latDeg || !latMin || !lonDeg || !lonMin) return std::nullopt;
    double lat = *latDeg + *latMin / 60.0;
    double lon = *lonDeg + *lonMin / 60.0;
    if (text[7] == 'S') lat = -lat;
    if (text[17] == 'W') lon = -lon;
    if (std::fabs(lat) > 90.0 || std::fabs(lon) > 180.0) return std::nullopt;
    return APRSPosition{.latitudeDeg = lat, .longitudeDeg = lon, .comment = std::string(text.substr(19))};
}

std::string latin1ToUTF8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}
