#include "sim/ADSBEncoder.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;

void putBits(ADSBFrameBytes& frame, int firstBit, int count, std::uint64_t value) {
    for (int k = 0; k < count; ++k) {
        const int bit = firstBit + k;
        const bool one = (value >> (count - 1 - k)) & 1u;
        const auto mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
        if (one) {
            frame[static_cast<std::size_t>(bit / 8)] |= mask;
        } else {
            frame[static_cast<std::size_t>(bit / 8)] &= static_cast<std::uint8_t>(~mask);
        }
    }
}

ADSBFrameBytes header(std::uint32_t icao) {
    ADSBFrameBytes frame{};
    putBits(frame, 0, 5, 17);    // DF17
    putBits(frame, 5, 3, 5);     // CA 5: airborne, level 2 transponder
    putBits(frame, 8, 24, icao & 0xFFFFFFu);
    return frame;
}

// 6-bit character set of ICAO Annex 10 Vol IV, Table 3-9 (IA-5 subset).
int characterCode(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A' + 1;
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= '0' && c <= '9') return 48 + (c - '0');
    return 32;  // space for anything else
}

double floorMod(double x, double y) { return x - y * std::floor(x / y); }

}  // namespace

ADSBFrameBytes ADSBEncoder::identification(const ADSBIdentificationFields& fields) {
    ADSBFrameBytes frame = header(fields.icao);
    putBits(frame, 32, 5, static_cast<std::uint64_t>(fields.typeCode));
    putBits(frame, 37, 3, static_cast<std::uint64_t>(fields.category));
    for (int k = 0; k < 8; ++k) {
        const char c = k < static_cast<int>(fields.callsign.size())
                           ? fields.callsign[static_cast<std::size_t>(k)] : ' ';
        putBits(frame, 40 + 6 * k, 6, static_cast<std::uint64_t>(characterCode(c)));
    }
    setParity(frame);
    return frame;
}

ADSBFrameBytes ADSBEncoder::airbornePosition(const ADSBPositionFields& fields) {
    ADSBFrameBytes frame = header(fields.icao);
    putBits(frame, 32, 5, static_cast<std::uint64_t>(fields.typeCode));
    putBits(frame, 37, 2, 0);    // surveillance status: no condition
    putBits(frame, 39, 1, 0);
    // 25 ft altitude code: N = (alt + 1000) / 25 in 11 bits with the Q bit inserted as the 8th.
    const long n = std::clamp(std::lround((fields.altitudeFeet + 1000) / 25.0), 0L, 2047L);
    const auto un = static_cast<std::uint64_t>(n);
    putBits(frame, 40, 7, un >> 4);
    putBits(frame, 47, 1, 1);
    putBits(frame, 48, 4, un & 0xFu);
    putBits(frame, 52, 1, 0);    // time not synchronised to UTC
    putBits(frame, 53, 1, fields.isOdd ? 1 : 0);
    const ADSBCPRCode cpr = encodeCPR(fields.latitudeDeg, fields.longitudeDeg, fields.isOdd);
    putBits(frame, 54, 17, cpr.latitudeCPR);
    putBits(frame, 71, 17, cpr.longitudeCPR);
    setParity(frame);
    return frame;
}

ADSBFrameBytes ADSBEncoder::airborneVelocity(const ADSBVelocityFields& fields) {
    ADSBFrameBytes frame = header(fields.icao);
    putBits(frame, 32, 5, 19);
    putBits(frame, 37, 3, 1);    // subtype 1: ground speed, subsonic
    putBits(frame, 40, 1, 0);    // intent change
    putBits(frame, 41, 1, 0);    // IFR capability
    putBits(frame, 42, 3, 1);    // NUCr
    const double trackRad = fields.trackDeg * kPi / 180.0;
    const double east = fields.groundSpeedKnots * std::sin(trackRad);
    const double north = fields.groundSpeedKnots * std::cos(trackRad);
    const auto component = [](double knots) {
        return static_cast<std::uint64_t>(std::min(std::lround(std::fabs(knots)) + 1, 1023L));
    };
    putBits(frame, 45, 1, east < 0.0 ? 1 : 0);
    putBits(frame, 46, 10, component(east));
    putBits(frame, 56, 1, north < 0.0 ? 1 : 0);
    putBits(frame, 57, 10, component(north));
    putBits(frame, 67, 1, 1);    // vertical rate source: barometric
    putBits(frame, 68, 1, fields.verticalRateFpm < 0 ? 1 : 0);
    const long vr = std::min(std::lround(std::abs(fields.verticalRateFpm) / 64.0) + 1, 511L);
    putBits(frame, 69, 9, static_cast<std::uint64_t>(vr));
    putBits(frame, 78, 2, 0);
    putBits(frame, 80, 8, 0);    // GNSS minus barometric altitude: no information
    setParity(frame);
    return frame;
}

std::uint32_t ADSBEncoder::parity(const ADSBFrameBytes& frame) {
    // Polynomial long division over a 112-bit register: data then 24 zero bits.
    std::bitset<112> r;
    for (int k = 0; k < 88; ++k) r[111 - k] = (frame[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1u;
    constexpr std::uint32_t kGenerator = 0x1FFF409;  // x^24 + ... + 1, 25 bits
    for (int k = 0; k < 88; ++k) {
        if (!r[111 - k]) continue;
        for (int g = 0; g < 25; ++g) {
            if ((kGenerator >> (24 - g)) & 1u) r.flip(static_cast<std::size_t>(111 - k - g));
        }
    }
    std::uint32_t out = 0;
    for (int k = 88; k < 112; ++k) out = (out << 1) | (r[111 - k] ? 1u : 0u);
    return out;
}

void ADSBEncoder::setParity(ADSBFrameBytes& frame) { putBits(frame, 88, 24, parity(frame)); }

int ADSBEncoder::longitudeZones(double latitudeDeg) {
    // Transition latitude of zone count n: acos(sqrt((1 - cos(pi/2NZ)) / (1 - cos(2pi/n)))), NZ 15.
    const double lat = std::fabs(latitudeDeg);
    int zones = 1;
    for (int n = 2; n <= 59; ++n) {
        const double transition =
            std::acos(std::sqrt((1.0 - std::cos(kPi / 30.0)) / (1.0 - std::cos(2.0 * kPi / n)))) *
            180.0 / kPi;
        if (lat < transition) zones = n;
    }
    return zones;
}

ADSBCPRCode ADSBEncoder::encodeCPR(double latitudeDeg, double longitudeDeg, bool isOdd) {
    constexpr double kScale = 131072.0;  // 2^17
    const int i = isOdd ? 1 : 0;
    const double dLat = 360.0 / (60 - i);
    const double yz = std::floor(kScale * floorMod(latitudeDeg, dLat) / dLat + 0.5);
    const double rLat = dLat * (yz / kScale + std::floor(latitudeDeg / dLat));
    const int zones = longitudeZones(rLat) - i;
    const double dLon = zones > 0 ? 360.0 / zones : 360.0;
    const double xz = std::floor(kScale * floorMod(longitudeDeg, dLon) / dLon + 0.5);
    return {.latitudeCPR = static_cast<std::uint32_t>(floorMod(yz, kScale)),
            .longitudeCPR = static_cast<std::uint32_t>(floorMod(xz, kScale))};
}

ADSBPulseShaper::ADSBPulseShaper(double cutoffHz, double halfLength) : halfLengthUs(halfLength) {
    // Integrate the impulse response at 0.1 ns and keep every tenth value.
    constexpr int kSub = 10;
    const double dt = 1e-3 / kSub;  // µs
    const int steps = static_cast<int>(std::lround(2.0 * halfLengthUs / dt));
    const double fcPerUs = cutoffHz * 1e-6;
    std::vector<double> cumulative(static_cast<std::size_t>(steps) + 1, 0.0);
    double sum = 0.0;
    for (int n = 1; n <= steps; ++n) {
        const double t = -halfLengthUs + (n - 0.5) * dt;
        const double x = 2.0 * kPi * fcPerUs * t;
        const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
        const double w = 0.42 + 0.5 * std::cos(kPi * t / halfLengthUs) +
                         0.08 * std::cos(2.0 * kPi * t / halfLengthUs);
        sum += 2.0 * fcPerUs * sinc * w * dt;
        cumulative[static_cast<std::size_t>(n)] = sum;
    }
    table.resize(static_cast<std::size_t>(steps / kSub) + 1);
    for (std::size_t n = 0; n < table.size(); ++n) table[n] = cumulative[n * kSub] / sum;
}

ADSBPulseShaper ADSBPulseShaper::gaussian(double sigmaUs) {
    const double halfLength = std::max(5.0 * sigmaUs, 0.002);
    if (sigmaUs <= 0.0) return ADSBPulseShaper(0.001, {0.0, 1.0, 1.0});
    std::vector<double> steps(static_cast<std::size_t>(std::lround(2000.0 * halfLength)) + 1);
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const double t = -halfLength + 1e-3 * static_cast<double>(n);
        steps[n] = 0.5 * (1.0 + std::erf(t / (sigmaUs * std::numbers::sqrt2)));
    }
    return ADSBPulseShaper(halfLength, std::move(steps));
}

double ADSBPulseShaper::step(double tUs) const {
    if (tUs <= -halfLengthUs) return 0.0;
    if (tUs >= halfLengthUs) return 1.0;
    const double x = (tUs + halfLengthUs) * 1000.0;
    const auto n = static_cast<std::size_t>(x);
    if (n + 1 >= table.size()) return 1.0;
    const double f = x - static_cast<double>(n);
    return table[n] + (table[n + 1] - table[n]) * f;
}

void ADSBEncoder::render(std::span<IQSample> out, double startSample, const ADSBFrameBytes& frame,
                         const ADSBPulseShape& shape, const ADSBPulseShaper& shaper) {
    // Half-microsecond chips: preamble pulses at 0, 1.0, 3.5, 4.5 µs, then each bit as a pulse in
    // its first (1) or second (0) half.
    std::array<bool, 240> chip{};
    chip[0] = chip[2] = chip[7] = chip[9] = true;
    for (int k = 0; k < 112; ++k) {
        const bool one = (frame[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1u;
        chip[static_cast<std::size_t>(16 + 2 * k + (one ? 0 : 1))] = true;
    }
    const double usPerSample = 1e6 / shape.sampleRateHz;
    const double reachUs = shaper.reachUs();
    const double first = std::ceil(startSample - reachUs / usPerSample);
    const double last = std::floor(startSample + (kFrameUs + reachUs) / usPerSample);
    const auto begin = static_cast<std::ptrdiff_t>(std::max(first, 0.0));
    const auto end =
        static_cast<std::ptrdiff_t>(std::min(last + 1.0, static_cast<double>(out.size())));
    for (std::ptrdiff_t n = begin; n < end; ++n) {
        const double tUs = (static_cast<double>(n) - startSample) * usPerSample;
        const int lo = std::max(0, static_cast<int>(std::floor((tUs - reachUs) / 0.5)) - 1);
        const int hi = std::min(239, static_cast<int>(std::floor((tUs + reachUs) / 0.5)) + 1);
        double envelope = 0.0;
        for (int c = lo; c <= hi; ++c) {
            if (!chip[static_cast<std::size_t>(c)]) continue;
            const double a = tUs - 0.5 * c;
            envelope += shaper.step(a) - shaper.step(a - 0.5);
        }
        if (envelope == 0.0) continue;
        const double phase = shape.carrierPhaseRad + 2.0 * kPi * shape.carrierOffsetHz * tUs * 1e-6;
        const double amp = shape.amplitude * envelope;
        out[static_cast<std::size_t>(n)].i += static_cast<float>(amp * std::cos(phase));
        out[static_cast<std::size_t>(n)].q += static_cast<float>(amp * std::sin(phase));
    }
}
