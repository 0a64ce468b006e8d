#include "sim/RDSEncoder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPilotCyclesPerBit = 16.0;  // 19 kHz / 1187.5 bit/s
constexpr double kCarrierPerPilot = 3.0;     // 57 kHz / 19 kHz

// IEC 62106 Annex B: g(x) = x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1 and the offset words.
constexpr std::uint32_t kGeneratorLow = 0x1B9;  // g(x) without the x^10 term
constexpr std::uint32_t offsetWord(RDSEncoder::Offset offset) {
    switch (offset) {
        case RDSEncoder::Offset::a:
            return 0x0FC;
        case RDSEncoder::Offset::b:
            return 0x198;
        case RDSEncoder::Offset::c:
            return 0x168;
        case RDSEncoder::Offset::cPrime:
            return 0x350;
        case RDSEncoder::Offset::d:
            return 0x1B4;
    }
    return 0;
}

// Symbol shape table: 64 points per bit over [-2, 3) bits relative to the bit's start.
constexpr int kShapePointsPerBit = 64;
constexpr int kShapeFirstBit = -2;
constexpr int kShapeBits = 5;

// Transmitter pulse: the square root of the overall data shaping cos(pi f td / 4) for
// 0 <= f <= 2/td, which EN 50067 splits equally between transmitter and receiver. Time x in
// bits; integrated numerically by the midpoint rule over f.
double transmitPulse(double x) {
    constexpr int kSteps = 512;
    double sum = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double f = (i + 0.5) * 2.0 / kSteps;
        sum += std::sqrt(std::cos(std::numbers::pi * f / 4.0)) * std::cos(kTwoPi * f * x);
    }
    return 2.0 * sum * 2.0 / kSteps;
}

std::vector<float> makeSymbolShape() {
    // A biphase symbol is the impulse pair +d(t - td/4) - d(t - 3td/4) through the pulse, so
    // its positive half lies in the first half of the bit.
    const int count = kShapeBits * kShapePointsPerBit + 1;
    std::vector<double> shape(count);
    for (int i = 0; i < count; ++i) {
        const double x = kShapeFirstBit + static_cast<double>(i) / kShapePointsPerBit;
        shape[i] = transmitPulse(x - 0.25) - transmitPulse(x - 0.75);
    }
    // Scale so that the worst-case sum of the five overlapping symbols is 1.
    double worst = 0.0;
    for (int i = 0; i < kShapePointsPerBit; ++i) {
        double total = 0.0;
        for (int b = 0; b < kShapeBits; ++b) total += std::fabs(shape[i + b * kShapePointsPerBit]);
        worst = std::max(worst, total);
    }
    std::vector<float> out(count);
    for (int i = 0; i < count; ++i) out[i] = static_cast<float>(shape[i] / worst);
    return out;
}

void copyPadded(const std::string& text, std::span<char> out) {
    std::fill(out.begin(), out.end(), ' ');
    std::copy_n(text.begin(), std::min(text.size(), out.size()), out.begin());
}

}  // namespace

RDSEncoder::RDSEncoder(RDSEncoderConfig cfg) : config(std::move(cfg)) {
    config.pty &= 0x1F;
    copyPadded(config.ps, psChars);
    setRadioText(config.radioText);
    abFlag = 0;
    symbolShape = makeSymbolShape();
    bitFraction = std::clamp(config.initialBitOffset, 0.0, 0.999999);
}

std::uint32_t RDSEncoder::encodeBlock(std::uint16_t info, Offset offset) {
    // Remainder of info(x) * x^10 divided by g(x), one information bit at a time, MSB first.
    std::uint32_t reg = 0;
    for (int i = 15; i >= 0; --i) {
        const std::uint32_t feedback = ((info >> i) & 1U) ^ ((reg >> 9) & 1U);
        reg = (reg << 1) & 0x3FF;
        if (feedback) reg ^= kGeneratorLow;
    }
    return (static_cast<std::uint32_t>(info) << 10) | (reg ^ offsetWord(offset));
}

void RDSEncoder::setRadioText(const std::string& text) {
    std::array<char, 64> next{};
    copyPadded(text, next);
    const std::size_t length = std::min<std::size_t>(text.size(), 64);
    // A text shorter than 64 characters ends with a carriage return (EN 50067, type 2 groups).
    if (length < 64) next[length] = '\r';
    const int segments =
        text.empty() ? 0 : static_cast<int>(std::min<std::size_t>(16, length / 4 + 1));
    if (next != rtChars || segments != rtSegments) {
        abFlag ^= 1;
        rtSegment = 0;
    }
    rtChars = next;
    rtSegments = segments;
}

void RDSEncoder::setTA(bool ta) {
    config.ta = ta;
}

void RDSEncoder::buildNextGroup() {
    const bool text = nextIsText && rtSegments > 0;
    nextIsText = !nextIsText;
    const std::uint16_t common =
        static_cast<std::uint16_t>((config.tp ? 1 << 10 : 0) | (config.pty << 5));
    std::uint16_t b = 0, c = 0, d = 0;
    auto pair = [](char hi, char lo) {
        return static_cast<std::uint16_t>((static_cast<std::uint8_t>(hi) << 8) |
                                          static_cast<std::uint8_t>(lo));
    };
    if (text) {
        const int a = rtSegment;
        rtSegment = (rtSegment + 1) % rtSegments;
        b = static_cast<std::uint16_t>((0x2 << 12) | common | (abFlag << 4) | a);
        c = pair(rtChars[4 * a], rtChars[4 * a + 1]);
        d = pair(rtChars[4 * a + 2], rtChars[4 * a + 3]);
    } else {
        const int a = psSegment;
        psSegment = (psSegment + 1) % 4;
        // DI segment address 3 carries d0 (stereo); the others are 0.
        const bool di = a == 3 && config.stereo;
        b = static_cast<std::uint16_t>(common | (config.ta ? 1 << 4 : 0) |
                                       (config.music ? 1 << 3 : 0) | (di ? 1 << 2 : 0) | a);
        c = 0xE0CD;  // AF: "no AF exists" (224) and the filler code (205)
        d = pair(psChars[2 * a], psChars[2 * a + 1]);
    }
    groupBlocks = {encodeBlock(config.pi, Offset::a), encodeBlock(b, Offset::b),
                   encodeBlock(c, Offset::c), encodeBlock(d, Offset::d)};
    groupBitIndex = 0;
}

int RDSEncoder::nextDataBit() {
    if (groupBitIndex >= 104) buildNextGroup();
    const int block = groupBitIndex / 26;
    const int bit = 25 - groupBitIndex % 26;
    ++groupBitIndex;
    return static_cast<int>((groupBlocks[block] >> bit) & 1U);
}

// Codes the next data bit differentially (EN 50067 differential coding: e_k = d_k xor e_k-1) and
// stores its polarity two bits ahead of the bit being sent.
void RDSEncoder::pushBit() {
    lastCodedBit ^= nextDataBit();
    polarity[static_cast<std::size_t>(nextCodedIndex & 7)] = lastCodedBit ? 1.0f : -1.0f;
    ++nextCodedIndex;
}

float RDSEncoder::baseband(double fraction) const {
    float sum = 0.0f;
    for (int j = -2; j <= 2; ++j) {
        // Bit bitIndex + j seen at offset fraction - j bits from its start.
        const double x = (fraction - j - kShapeFirstBit) * kShapePointsPerBit;
        const int i = std::clamp(static_cast<int>(x), 0, kShapeBits * kShapePointsPerBit - 1);
        const float t = static_cast<float>(x - i);
        const float shape = symbolShape[i] + t * (symbolShape[i + 1] - symbolShape[i]);
        sum += polarity[static_cast<std::size_t>((bitIndex + j) & 7)] * shape;
    }
    return sum;
}

void RDSEncoder::render(std::span<float> mpx, RDSPilotClock pilot) {
    // Bits 0, 1 and 2 are coded before the first sample; bits -2 and -1 stay silent.
    while (nextCodedIndex < 3) pushBit();
    const double bitsPerSample = pilot.radPerSample / (kTwoPi * kPilotCyclesPerBit);
    std::complex<double> carrier =
        std::polar(1.0, kCarrierPerPilot * pilot.phaseRad + config.carrierPhaseRad);
    const std::complex<double> step = std::polar(1.0, kCarrierPerPilot * pilot.radPerSample);
    const float amplitude = config.amplitude;
    for (float& out : mpx) {
        out += amplitude * baseband(bitFraction) * static_cast<float>(carrier.real());
        carrier *= step;
        bitFraction += bitsPerSample;
        if (bitFraction >= 1.0) {
            bitFraction -= 1.0;
            ++bitIndex;
            pushBit();
        }
    }
}
