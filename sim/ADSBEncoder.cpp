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
    putBits(frame, 0, 5, 17);  // DF17
    putBits(frame, 5, 3, 5);   // CA 5: airborne, level 2 transponder
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

double floorMod(double x, double y) {
    return x - y * std::floor(x / y);
}

}  // namespace

ADSBFrameBytes ADSBEncoder::identification(const ADSBIdentificationFields& fields) {
    ADSBFrameBytes frame = header(fields.icao);
    putBits(frame, 32, 5, static_cast<std::uint64_t>(fields.typeCode));
    putBits(frame, 37, 3, static_cast<std::uint64_t>(fields.category));
    for (int k = 0; k < 8; ++k) {
        const char c = k < static_cast<int>(fields.callsign.size())
                           ? fields.callsign[static_cast<std::size_t>(k)]
                           : ' ';
        putBits(frame, 40 + 6 * k, 6, static_cast<std::uint64_t>(characterCode(c)));
    }
    setParity(frame);
    return frame;
}

ADSBFrameBytes ADSBEncoder::airbornePosition(const ADSBPositionFields& fields) {
    ADSBFrameBytes frame = header(fields.icao);
    putBits(frame, 32, 5, static_cast<std::uint64_t>(fields.typeCode));
    putBits(frame, 37, 2, 0);  // surveillance status: no condition
    putBits(frame, 39, 1, 0);
    // 25 ft altitude code: N = (alt + 1000) / 25 in 11 bits with the Q bit inserted as the 8th.
    const long n = std::clamp(std::lround((fields.altitudeFeet + 1000) / 25.0), 0L, 2047L);
    const auto un = static_cast<std::uint64_t>(n);
    putBits(frame, 40, 7, un >> 4);
    putBits(frame, 47, 1, 1);
    putBits(frame, 48, 4, un & 0xFu);
    putBits(frame, 52, 1, 0);  // time not synchronised to UTC
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
    putBits(frame, 37, 3, 1);  // subtype 1: ground speed, subsonic
    putBits(frame, 40, 1, 0);  // intent change
    putBits(frame, 41, 1, 0);  // IFR capability
    putBits(frame, 42, 3, 1);  // NUCr
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
    putBits(frame, 67, 1, 1);  // vertical rate source: barometric
    putBits(frame, 68, 1, fields.verticalRateFpm < 0 ? 1 : 0);
    const long vr = std::min(std::lround(std::abs(fields.verticalRateFpm) / 64.0) + 1, 511L);
    putBits(frame, 69, 9, static_cast<std::uint64_t>(vr));
    putBits(frame, 78, 2, 0);
    putBits(frame, 80, 8, 0);  // GNSS minus barometric altitude: no information
    setParity(frame);
    return frame;
}

std::uint32_t ADSBEncoder::parity(const ADSBFrameBytes& frame, int bitCount) {
    // Polynomial long division over a 112-bit register: data then 24 zero bits.
    const int dataBits = bitCount - 24;
    std::bitset<112> r;
    for (int k = 0; k < dataBits; ++k) {
        r[111 - k] = (frame[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1u;
    }
    constexpr std::uint32_t kGenerator = 0x1FFF409;  // x^24 + ... + 1, 25 bits
    for (int k = 0; k < dataBits; ++k) {
        if (!r[111 - k]) continue;
        for (int g = 0; g < 25; ++g) {
            if ((kGenerator >> (24 - g)) & 1u) r.flip(static_cast<std::size_t>(111 - k - g));
        }
    }
    std::uint32_t out = 0;
    for (int k = dataBits; k < bitCount; ++k) out = (out << 1) | (r[111 - k] ? 1u : 0u);
    return out;
}

void ADSBEncoder::setParity(ADSBFrameBytes& frame, int bitCount) {
    putBits(frame, bitCount - 24, 24, parity(frame, bitCount));
}

std::uint32_t ADSBEncoder::altitudeCode(int altitudeFeet) {
    // N = (alt + 1000) / 25 in 11 bits; M (0) goes in after the sixth bit, Q (1) after the seventh.
    const auto n = static_cast<std::uint32_t>(
        std::clamp(std::lround((altitudeFeet + 1000) / 25.0), 0L, 2047L));
    return ((n >> 5) << 7) | (((n >> 4) & 1u) << 5) | (1u << 4) | (n & 0xFu);
}

std::uint32_t ADSBEncoder::identityCode(int squawk) {
    const auto digit = [squawk](int shift) {
        return static_cast<std::uint32_t>(squawk >> shift) & 7u;
    };
    const std::uint32_t a = digit(9), b = digit(6), c = digit(3), d = digit(0);
    const auto bit = [](std::uint32_t digitValue, int weight) {
        return (digitValue >> weight) & 1u;
    };
    // Field positions 12 (first) to 0 (last); position 6 is the unused X bit.
    return bit(c, 0) << 12 | bit(a, 0) << 11 | bit(c, 1) << 10 | bit(a, 1) << 9 | bit(c, 2) << 8 |
           bit(a, 2) << 7 | bit(b, 0) << 5 | bit(d, 0) << 4 | bit(b, 1) << 3 | bit(d, 1) << 2 |
           bit(b, 2) << 1 | bit(d, 2);
}

namespace {

// DF4, DF5, DF20, DF21 share their first 32 bits: DF, FS, DR, UM, then AC or ID.
ADSBFrameBytes surveillanceHeader(int df, const ADSBReplyFields& f, std::uint32_t code13) {
    ADSBFrameBytes frame{};
    putBits(frame, 0, 5, static_cast<std::uint64_t>(df));
    putBits(frame, 5, 3, static_cast<std::uint64_t>(f.flightStatus));
    putBits(frame, 8, 5, static_cast<std::uint64_t>(f.downlinkRequest));
    putBits(frame, 13, 6, static_cast<std::uint64_t>(f.utilityMessage));
    putBits(frame, 19, 13, code13);
    return frame;
}

// Address/parity (AP): the parity XOR the aircraft address (Annex 10 3.1.2.3.3.2).
ADSBFrameBytes withAddressParity(ADSBFrameBytes frame, std::uint32_t icao, int bitCount) {
    putBits(frame, bitCount - 24, 24, ADSBEncoder::parity(frame, bitCount) ^ (icao & 0xFFFFFFu));
    return frame;
}

}  // namespace

ADSBFrameBytes ADSBEncoder::allCallReply(const ADSBReplyFields& fields) {
    ADSBFrameBytes frame{};
    putBits(frame, 0, 5, 11);
    putBits(frame, 5, 3, static_cast<std::uint64_t>(fields.capability));
    putBits(frame, 8, 24, fields.icao & 0xFFFFFFu);
    // PI: parity XOR 17 zeros, a 3-bit code label and a 4-bit code: label 0 and the II, or
    // label 1-4 and the SI in blocks of 15.
    std::uint32_t code = static_cast<std::uint32_t>(fields.interrogatorId) & 0xFu;
    if (fields.surveillanceId > 0) {
        const int label = (fields.surveillanceId - 1) / 15 + 1;
        code =
            static_cast<std::uint32_t>((label << 4) | (fields.surveillanceId - 15 * (label - 1)));
    }
    putBits(frame, 32, 24, parity(frame, 56) ^ code);
    return frame;
}

ADSBFrameBytes ADSBEncoder::altitudeReply(const ADSBReplyFields& fields) {
    return withAddressParity(surveillanceHeader(4, fields, altitudeCode(fields.altitudeFeet)),
                             fields.icao, 56);
}

ADSBFrameBytes ADSBEncoder::identityReply(const ADSBReplyFields& fields) {
    return withAddressParity(surveillanceHeader(5, fields, identityCode(fields.squawk)),
                             fields.icao, 56);
}

ADSBFrameBytes ADSBEncoder::commBAltitudeReply(const ADSBReplyFields& fields, std::uint64_t mb) {
    ADSBFrameBytes frame = surveillanceHeader(20, fields, altitudeCode(fields.altitudeFeet));
    putBits(frame, 32, 56, mb);
    return withAddressParity(frame, fields.icao, 112);
}

ADSBFrameBytes ADSBEncoder::commBIdentityReply(const ADSBReplyFields& fields, std::uint64_t mb) {
    ADSBFrameBytes frame = surveillanceHeader(21, fields, identityCode(fields.squawk));
    putBits(frame, 32, 56, mb);
    return withAddressParity(frame, fields.icao, 112);
}

std::uint64_t ADSBEncoder::identificationMB(std::string_view callsign) {
    std::uint64_t mb = 0x20;  // BDS 2,0
    for (std::size_t k = 0; k < 8; ++k) {
        const char c = k < callsign.size() ? callsign[k] : ' ';
        mb = (mb << 6) | static_cast<std::uint64_t>(characterCode(c));
    }
    return mb;
}

std::uint64_t ADSBEncoder::verticalIntentionMB(int selectedAltitudeFeet, double baroSettingMb) {
    // Doc 9871 Table A-2-64: status and 12-bit MCP/FCU altitude in 16 ft steps, FMS altitude not
    // available, status and barometric setting minus 800 mb in 0.1 mb steps, mode bits absent.
    const auto altitude =
        static_cast<std::uint64_t>(std::clamp(std::lround(selectedAltitudeFeet / 16.0), 0L, 4095L));
    const auto baro = static_cast<std::uint64_t>(
        std::clamp(std::lround((baroSettingMb - 800.0) * 10.0), 0L, 4095L));
    return (1ull << 55) | (altitude << 43) | (1ull << 29) | (baro << 17);
}

std::string ADSBEncoder::hex(const ADSBFrameBytes& frame, int bitCount) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int k = 0; k < bitCount / 8; ++k) {
        out += kDigits[frame[static_cast<std::size_t>(k)] >> 4];
        out += kDigits[frame[static_cast<std::size_t>(k)] & 0xF];
    }
    return out;
}

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

namespace {

// Half-microsecond chips: preamble pulses at 0, 1.0, 3.5, 4.5 µs, then each bit as a pulse in
// its first (1) or second (0) half.
struct ChipPattern {
    std::array<bool, 240> on{};
    int count = 0;
};

ChipPattern chipsOf(const ADSBFrameBytes& frame, int bitCount) {
    ChipPattern p;
    p.on[0] = p.on[2] = p.on[7] = p.on[9] = true;
    for (int k = 0; k < bitCount; ++k) {
        const bool one = (frame[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1u;
        p.on[static_cast<std::size_t>(16 + 2 * k + (one ? 0 : 1))] = true;
    }
    p.count = 16 + 2 * bitCount;
    return p;
}

// Samples n of out with n - startSample inside [beginUs, endUs] after the first pulse.
struct SampleRange {
    std::ptrdiff_t begin = 0;
    std::ptrdiff_t end = 0;
};

SampleRange samplesCovering(std::size_t size, double startSample, double beginUs, double endUs,
                            double samplesPerUs) {
    const double first = std::ceil(startSample + beginUs * samplesPerUs);
    const double last = std::floor(startSample + endUs * samplesPerUs);
    return {
        .begin = static_cast<std::ptrdiff_t>(std::clamp(first, 0.0, static_cast<double>(size))),
        .end = static_cast<std::ptrdiff_t>(std::clamp(last + 1.0, 0.0, static_cast<double>(size)))};
}

}  // namespace

void ADSBEncoder::render(std::span<IQSample> out, double startSample, const ADSBFrameBytes& frame,
                         const ADSBPulseShape& shape, const ADSBPulseShaper& shaper) {
    const ChipPattern chips = chipsOf(frame, shape.bitCount);
    const double usPerSample = 1e6 / shape.sampleRateHz;
    const double reachUs = shaper.reachUs();
    const SampleRange range = samplesCovering(out.size(), startSample, -reachUs,
                                              0.5 * chips.count + reachUs, 1.0 / usPerSample);
    for (std::ptrdiff_t n = range.begin; n < range.end; ++n) {
        const double tUs = (static_cast<double>(n) - startSample) * usPerSample;
        const int lo = std::max(0, static_cast<int>(std::floor((tUs - reachUs) / 0.5)) - 1);
        const int hi =
            std::min(chips.count - 1, static_cast<int>(std::floor((tUs + reachUs) / 0.5)) + 1);
        double envelope = 0.0;
        for (int c = lo; c <= hi; ++c) {
            if (!chips.on[static_cast<std::size_t>(c)]) continue;
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

void ADSBEncoder::render(std::span<IQSample> out, double startSample, const ADSBFrameBytes& frame,
                         const ADSBPulseShape& shape, const ADSBPulseResponse& response) {
    const ChipPattern chips = chipsOf(frame, shape.bitCount);
    const double usPerSample = 1e6 / shape.sampleRateHz;
    // Pulse c contributes at t when t - 0.5c lies inside the response.
    const double lead = response.beginUs();
    const double tail = response.endUs();
    const SampleRange range = samplesCovering(out.size(), startSample, lead,
                                              0.5 * (chips.count - 1) + tail, 1.0 / usPerSample);
    const double radPerUs = 2.0 * kPi * shape.carrierOffsetHz * 1e-6;
    for (std::ptrdiff_t n = range.begin; n < range.end; ++n) {
        const double tUs = (static_cast<double>(n) - startSample) * usPerSample;
        const int lo = std::max(0, static_cast<int>(std::ceil((tUs - tail) * 2.0)));
        const int hi = std::min(chips.count - 1, static_cast<int>(std::floor((tUs - lead) * 2.0)));
        std::complex<float> envelope;
        for (int c = lo; c <= hi; ++c) {
            if (chips.on[static_cast<std::size_t>(c)]) envelope += response.at(tUs - 0.5 * c);
        }
        if (envelope == std::complex<float>{}) continue;
        const std::complex<double> carrier = std::polar(static_cast<double>(shape.amplitude),
                                                        shape.carrierPhaseRad + radPerUs * tUs);
        const std::complex<double> v = carrier * std::complex<double>(envelope);
        out[static_cast<std::size_t>(n)].i += static_cast<float>(v.real());
        out[static_cast<std::size_t>(n)].q += static_cast<float>(v.imag());
    }
}
