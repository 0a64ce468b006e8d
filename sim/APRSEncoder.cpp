#include "sim/APRSEncoder.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

void appendAddress(std::vector<std::uint8_t>& out, const AX25Address& a, bool isLast,
                   bool commandBit) {
    // AX.25 2.2, 3.12: callsign padded with spaces, each character shifted left by one.
    for (std::size_t k = 0; k < 6; ++k) {
        const char c = k < a.callsign.size() ? a.callsign[k] : ' ';
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) << 1));
    }
    // SSID byte: C/H bit, two reserved 1 bits, SSID, extension bit.
    std::uint8_t ssid = static_cast<std::uint8_t>(0x60 | ((a.ssid & 0x0F) << 1));
    if (commandBit) ssid |= 0x80;
    if (isLast) ssid |= 0x01;
    out.push_back(ssid);
}

std::string formatCoordinate(double deg, int degreeDigits, char positive, char negative) {
    // Round to hundredths of a minute first so that 59.995' does not print as 60.00'.
    const long hundredths = std::lround(std::fabs(deg) * 6000.0);
    char text[64];
    std::snprintf(text, sizeof text, "%0*ld%02ld.%02ld%c", degreeDigits, hundredths / 6000,
                  (hundredths % 6000) / 100, hundredths % 100, deg < 0.0 ? negative : positive);
    return text;
}

}  // namespace

std::string APRSEncoder::positionInformation(const APRSPositionReport& r) {
    std::string out;
    if (r.timestamp) {
        out += r.messaging ? '@' : '/';
        out += *r.timestamp;
    } else {
        out += r.messaging ? '=' : '!';
    }
    out += formatCoordinate(r.latitudeDeg, 2, 'N', 'S');
    out += r.symbolTable;
    out += formatCoordinate(r.longitudeDeg, 3, 'E', 'W');
    out += r.symbolCode;
    out += r.comment;
    return out;
}

std::uint16_t APRSEncoder::frameCheck(std::span<const std::uint8_t> bytes) {
    // Shift register fed one bit at a time in transmission order (LSB first).
    std::uint16_t reg = 0xFFFF;
    for (std::uint8_t b : bytes) {
        for (int k = 0; k < 8; ++k) {
            const bool in = (b >> k) & 1u;
            const bool feedback = ((reg & 1u) != 0) != in;
            reg = static_cast<std::uint16_t>(reg >> 1);
            if (feedback) reg ^= 0x8408;  // x^16 + x^12 + x^5 + 1, reflected
        }
    }
    return static_cast<std::uint16_t>(reg ^ 0xFFFF);
}

std::vector<std::uint8_t> APRSEncoder::frameBytes(const APRSFrameFields& f) {
    std::vector<std::uint8_t> out;
    appendAddress(out, f.destination, false, true);
    appendAddress(out, f.source, f.path.empty(), false);
    for (std::size_t k = 0; k < f.path.size(); ++k) {
        appendAddress(out, f.path[k], k + 1 == f.path.size(), false);
    }
    out.push_back(0x03);  // UI frame
    out.push_back(0xF0);  // no layer 3
    out.insert(out.end(), f.information.begin(), f.information.end());
    const std::uint16_t fcs = frameCheck(out);
    out.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    out.push_back(static_cast<std::uint8_t>(fcs >> 8));
    return out;
}

std::vector<std::uint8_t> APRSEncoder::hdlcBits(std::span<const std::uint8_t> frame,
                                                int preambleFlags, int postambleFlags) {
    std::vector<std::uint8_t> bits;
    const auto flag = [&bits] {
        for (int k = 0; k < 8; ++k) bits.push_back((0x7E >> k) & 1);
    };
    for (int n = 0; n < preambleFlags; ++n) flag();
    int ones = 0;
    for (std::uint8_t b : frame) {
        for (int k = 0; k < 8; ++k) {
            const std::uint8_t bit = (b >> k) & 1;
            bits.push_back(bit);
            ones = bit ? ones + 1 : 0;
            if (ones == 5) {
                bits.push_back(0);
                ones = 0;
            }
        }
    }
    for (int n = 0; n < postambleFlags; ++n) flag();
    return bits;
}

std::vector<float> APRSEncoder::modulate(std::span<const std::uint8_t> bits,
                                         const AFSKSettings& s) {
    const double samplesPerBit = s.sampleRateHz / 1200.0;
    const auto total = static_cast<std::size_t>(std::ceil(bits.size() * samplesPerBit));
    std::vector<float> out;
    out.reserve(total);
    bool mark = true;
    double phase = 0.0;
    std::size_t bitIndex = static_cast<std::size_t>(-1);
    for (std::size_t n = 0; n < total; ++n) {
        const auto b = static_cast<std::size_t>(static_cast<double>(n) / samplesPerBit);
        if (b >= bits.size()) break;
        if (b != bitIndex) {
            bitIndex = b;
            if (bits[b] == 0) mark = !mark;
        }
        out.push_back(s.amplitude * static_cast<float>(std::sin(phase)));
        phase += 2.0 * std::numbers::pi * (mark ? 1200.0 : 2200.0) / s.sampleRateHz;
        if (phase > 2.0 * std::numbers::pi) phase -= 2.0 * std::numbers::pi;
    }
    return out;
}

std::vector<float> APRSEncoder::encode(const APRSFrameFields& fields, const AFSKSettings& s) {
    const std::vector<std::uint8_t> frame = frameBytes(fields);
    return modulate(hdlcBits(frame, s.preambleFlags, s.postambleFlags), s);
}
