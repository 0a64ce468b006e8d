#include "adsb/ADSBFields.h"

#include <cmath>
#include <numbers>
#include <string_view>

namespace {

constexpr std::string_view kCharset =
    "#ABCDEFGHIJKLMNOPQRSTUVWXYZ##### ###############0123456789######";

// DO-260 uses the non-negative modulo; the zone indices j and m are negative for a sizeable
// share of positions (for example near 48.35 N 11.78 E), where fmod would give nonsense.
double floorMod(double x, double y) {
    return x - y * std::floor(x / y);
}

}  // namespace

std::uint32_t adsbBits(const ADSBMessageBits& bits, int first, int count) {
    std::uint32_t v = 0;
    for (int k = 0; k < count; ++k) v = (v << 1) | (bits[static_cast<std::size_t>(first + k)] & 1u);
    return v;
}

std::string decodeADSBCallsign(const ADSBMessageBits& bits) {
    std::string out;
    for (int k = 0; k < 8; ++k) {
        const char c = kCharset[adsbBits(bits, 40 + 6 * k, 6)];
        if (c != '#') out.push_back(c);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::optional<int> decodeADSBAltitudeFeet(const ADSBMessageBits& bits) {
    if (!bits[47]) return std::nullopt;
    const int n = static_cast<int>((adsbBits(bits, 40, 7) << 4) | adsbBits(bits, 48, 4));
    return 25 * n - 1000;
}

std::optional<ADSBVelocity> decodeADSBVelocity(const ADSBMessageBits& bits) {
    const std::uint32_t subtype = adsbBits(bits, 37, 3);
    if (subtype != 1 && subtype != 2) return std::nullopt;
    const std::uint32_t vEW = adsbBits(bits, 46, 10);
    const std::uint32_t vNS = adsbBits(bits, 57, 10);
    if (vEW == 0 || vNS == 0) return std::nullopt;
    const double scale = subtype == 2 ? 4.0 : 1.0;  // supersonic: 4 kt steps
    double east = (static_cast<double>(vEW) - 1.0) * scale;
    double north = (static_cast<double>(vNS) - 1.0) * scale;
    if (bits[45]) east = -east;
    if (bits[56]) north = -north;
    ADSBVelocity v;
    v.groundSpeedKnots = std::sqrt(east * east + north * north);
    v.headingDeg = std::atan2(east, north) * 180.0 / std::numbers::pi;
    if (v.headingDeg < 0.0) v.headingDeg += 360.0;
    const std::uint32_t vr = adsbBits(bits, 69, 9);
    if (vr != 0) v.verticalRateFpm = (bits[68] ? -64 : 64) * static_cast<int>(vr - 1);
    return v;
}

int adsbCPRZones(double latitudeDeg) {
    const double lat = std::fabs(latitudeDeg);
    if (lat >= 87.0) return 1;
    const double a = std::cos(lat * std::numbers::pi / 180.0);
    if (a == 0.0) return 1;
    constexpr double kOneMinusCos = 0.00547810463172671;  // 1 - cos(pi / 30)
    double x = 1.0 - kOneMinusCos / (a * a);
    x = std::fmin(1.0, std::fmax(-1.0, x));
    const double angle = std::acos(x);
    if (angle == 0.0) return 1;
    const int nl = static_cast<int>(std::floor(2.0 * std::numbers::pi / angle));
    return nl < 1 ? 1 : nl;
}

std::optional<ADSBLatLon> decodeADSBGlobalCPR(const ADSBMessageBits& even,
                                              const ADSBMessageBits& odd, bool oddIsLatest) {
    constexpr double kScale = 131072.0;  // 2^17
    const double lat0 = adsbBits(even, 54, 17) / kScale;
    const double lon0 = adsbBits(even, 71, 17) / kScale;
    const double lat1 = adsbBits(odd, 54, 17) / kScale;
    const double lon1 = adsbBits(odd, 71, 17) / kScale;

    const double j = std::floor(59.0 * lat0 - 60.0 * lat1 + 0.5);
    double rlat0 = 6.0 * (floorMod(j, 60.0) + lat0);
    double rlat1 = (360.0 / 59.0) * (floorMod(j, 59.0) + lat1);
    if (rlat0 >= 270.0) rlat0 -= 360.0;
    if (rlat1 >= 270.0) rlat1 -= 360.0;
    const int nl = adsbCPRZones(rlat0);
    if (nl != adsbCPRZones(rlat1)) return std::nullopt;  // the pair straddles a zone boundary

    const int i = oddIsLatest ? 1 : 0;
    const double lat = oddIsLatest ? rlat1 : rlat0;
    const int n = std::max(nl - i, 1);
    const double m = std::floor(lon0 * (nl - 1) - lon1 * nl + 0.5);
    double lon = (360.0 / n) * (floorMod(m, n) + (oddIsLatest ? lon1 : lon0));
    if (lon >= 180.0) lon -= 360.0;
    if (std::fabs(lat) > 90.0 || std::fabs(lon) > 180.0) return std::nullopt;
    return ADSBLatLon{.latitudeDeg = lat, .longitudeDeg = lon};
}

ADSBLatLon decodeADSBLocalCPR(const ADSBMessageBits& message, const ADSBLatLon& reference) {
    constexpr double kScale = 131072.0;  // 2^17
    const int i = message[53] ? 1 : 0;
    const double latCPR = adsbBits(message, 54, 17) / kScale;
    const double lonCPR = adsbBits(message, 71, 17) / kScale;
    const double dLat = 360.0 / (60.0 - i);  // 4 NZ - i with NZ = 15
    const double j = std::floor(reference.latitudeDeg / dLat) +
                     std::floor(0.5 + floorMod(reference.latitudeDeg, dLat) / dLat - latCPR);
    const double lat = dLat * (j + latCPR);
    const double dLon = 360.0 / std::max(adsbCPRZones(lat) - i, 1);
    const double m = std::floor(reference.longitudeDeg / dLon) +
                     std::floor(0.5 + floorMod(reference.longitudeDeg, dLon) / dLon - lonCPR);
    double lon = dLon * (m + lonCPR);
    if (lon >= 180.0) lon -= 360.0;
    if (lon < -180.0) lon += 360.0;
    return {.latitudeDeg = lat, .longitudeDeg = lon};
}

double adsbDistanceNM(const ADSBLatLon& a, const ADSBLatLon& b) {
    constexpr double kEarthRadiusNM = 3'440.065;
    constexpr double kRad = std::numbers::pi / 180.0;
    const double dLat = (b.latitudeDeg - a.latitudeDeg) * kRad;
    const double dLon = (b.longitudeDeg - a.longitudeDeg) * kRad;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(a.latitudeDeg * kRad) * std::cos(b.latitudeDeg * kRad) *
                         std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * kEarthRadiusNM * std::asin(std::min(1.0, std::sqrt(h)));
}
