#include "aprs/APRSDecoder.h"

#include <cmath>
#include <numbers>

#include "aprs/APRSFrameParser.h"
#include "platform/DebugLog.h"

namespace {

constexpr std::size_t kMinFrameBytes = 17;
// Share of the phase error removed at each change of tone decision: quick enough to lock within
// the preamble flags, slow enough that noise on one transition does not throw the clock off.
constexpr double kPLLGain = 0.2;
// Sliding sums are rebuilt from their terms this often to shed accumulated rounding.
constexpr std::uint64_t kRecomputeInterval = 8192;

std::complex<double> toneStep(double hz, double rate) {
    return std::polar(1.0, -2.0 * std::numbers::pi * hz / rate);
}

std::string makeUUID(std::mt19937_64& source) {
    const std::uint64_t a = source();
    const std::uint64_t b = source();
    // RFC 4122 version 4, variant 1.
    return formatString("%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                        static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0x0FFF),
                        static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                        static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
}

}  // namespace

APRSDecoder::APRSDecoder(double rate)
    : sampleRate(rate),
      samplesPerBit(rate / kBaud),
      windowLength(static_cast<std::size_t>(std::max(2.0, std::round(rate / kBaud)))),
      markStep(toneStep(kMarkHz, rate)),
      spaceStep(toneStep(kSpaceHz, rate)),
      markTerms(windowLength),
      spaceTerms(windowLength),
      idSource(std::random_device{}()) {
    frameBytes.reserve(kMaxFrameBytes);
    resetLocked();
}

void APRSDecoder::reset() {
    std::lock_guard lock(mutex);
    resetLocked();
}

void APRSDecoder::resetLocked() {
    std::fill(markTerms.begin(), markTerms.end(), std::complex<float>());
    std::fill(spaceTerms.begin(), spaceTerms.end(), std::complex<float>());
    termIndex = 0;
    sampleCount = 0;
    markPhasor = spacePhasor = {1.0, 0.0};
    markSum = spaceSum = {};
    pllPhase = 0.0;
    currentDecisionMark = true;
    lastToneWasMark = true;
    consecutiveOnes = 0;
    awaitingFlagTrailingZero = false;
    rawBitAccum = 0;
    rawBitCount = 0;
    frameBytes.clear();
    inFrame = false;
}

void APRSDecoder::process(std::span<const float> samples) {
    std::vector<APRSPacket> delivered;
    {
        std::lock_guard lock(mutex);
        for (float x : samples) toneSample(x);
        delivered.swap(ready);
    }
    for (const APRSPacket& packet : delivered) {
        DebugLog::writef("📡 APRS %s>%s: %s", packet.sourceCallsign.c_str(),
                         packet.destCallsign.c_str(), packet.informationField.c_str());
        if (onPacket) onPacket(packet);
    }
}

void APRSDecoder::recomputeSums() {
    markSum = spaceSum = {};
    for (std::size_t k = 0; k < windowLength; ++k) {
        markSum += std::complex<double>(markTerms[k]);
        spaceSum += std::complex<double>(spaceTerms[k]);
    }
    // Keep the oscillators on the unit circle.
    markPhasor /= std::abs(markPhasor);
    spacePhasor /= std::abs(spacePhasor);
}

void APRSDecoder::toneSample(float x) {
    // |sum of x[k] e^{-j w k}|^2 over the last windowLength samples equals the Goertzel power of
    // that window at w.
    const std::complex<float> mark(static_cast<float>(x * markPhasor.real()),
                                   static_cast<float>(x * markPhasor.imag()));
    const std::complex<float> space(static_cast<float>(x * spacePhasor.real()),
                                    static_cast<float>(x * spacePhasor.imag()));
    markSum += std::complex<double>(mark) - std::complex<double>(markTerms[termIndex]);
    spaceSum += std::complex<double>(space) - std::complex<double>(spaceTerms[termIndex]);
    markTerms[termIndex] = mark;
    spaceTerms[termIndex] = space;
    termIndex = termIndex + 1 == windowLength ? 0 : termIndex + 1;
    markPhasor *= markStep;
    spacePhasor *= spaceStep;
    if (++sampleCount % kRecomputeInterval == 0) recomputeSums();

    // Mark when the space tone is weaker; equal powers count as space.
    const bool isMark = std::norm(spaceSum) < std::norm(markSum);
    if (isMark != currentDecisionMark) {
        currentDecisionMark = isMark;
        // The decision flips half a window after a tone boundary; the window then covers the new
        // bit exactly half a bit later, where the phase should wrap.
        pllPhase += kPLLGain * (0.5 - pllPhase);
    }
    pllPhase += 1.0 / samplesPerBit;
    if (pllPhase >= 1.0) {
        pllPhase -= 1.0;
        // NRZI: no change of tone is a 1.
        const int bit = currentDecisionMark == lastToneWasMark ? 1 : 0;
        lastToneWasMark = currentDecisionMark;
        handleBit(bit);
    }
}

void APRSDecoder::handleBit(int bit) {
    if (awaitingFlagTrailingZero) {
        awaitingFlagTrailingZero = false;
        consecutiveOnes = 0;
        return;
    }
    if (bit == 0) {
        if (consecutiveOnes != 5) appendDataBit(0);  // after five ones it is a stuffed zero
        consecutiveOnes = 0;
        return;
    }
    consecutiveOnes += 1;
    if (consecutiveOnes < 6) {
        appendDataBit(1);
        return;
    }
    // Six ones: a flag. It closes the frame in progress and opens the next one.
    if (inFrame) finishFrame();
    inFrame = true;
    rawBitAccum = 0;
    rawBitCount = 0;
    frameBytes.clear();
    consecutiveOnes = 0;
    awaitingFlagTrailingZero = true;
}

void APRSDecoder::appendDataBit(int bit) {
    if (!inFrame) return;
    rawBitAccum = static_cast<std::uint8_t>((bit << 7) | (rawBitAccum >> 1));  // LSB first
    if (++rawBitCount < 8) return;
    if (frameBytes.size() >= kMaxFrameBytes) {
        // Longer than any AX.25 frame: noise without a flag. Wait for the next flag.
        inFrame = false;
        frameBytes.clear();
    } else {
        frameBytes.push_back(rawBitAccum);
    }
    rawBitAccum = 0;
    rawBitCount = 0;
}

void APRSDecoder::finishFrame() {
    if (frameBytes.size() >= kMinFrameBytes) {
        if (!ax25FrameCheckMatches(frameBytes)) {
            fcsFailures.fetch_add(1, std::memory_order_relaxed);
        } else if (auto packet = parseAX25Frame(frameBytes)) {
            packet->id = makeUUID(idSource);
            packet->timestamp = std::chrono::system_clock::now();
            packets.fetch_add(1, std::memory_order_relaxed);
            ready.push_back(std::move(*packet));
        }
    }
    inFrame = false;
    frameBytes.clear();
}
