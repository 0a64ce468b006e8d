#pragma once

#include <atomic>
#include <complex>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <span>
#include <vector>

#include "aprs/APRSPacket.h"

// Bell 202 AFSK 1200 bit/s (mark 1200 Hz, space 2200 Hz) demodulator and AX.25 deframer for
// demodulated FM audio at any rate (51,200 samples/s in the receiver).
//
// Every sample the tone powers over the last bit's worth of samples are compared (the Goertzel
// power, kept as a sliding DFT so each sample costs O(1)); a digital PLL samples that decision once
// per bit, when its phase wraps, and pulls its phase towards mid-bit at each change of decision,
// so the fractional bit length (42.67 samples) and clock offsets are followed. Then NRZI, HDLC
// flags and bit unstuffing, the AX.25 FCS, and the APRS parse.
//
// Thread-safe: process() and reset() take one mutex (the APRS thread feeds, the main thread may
// reset). onPacket runs on the thread that calls process(), after the lock is released.
class APRSDecoder {
public:
    static constexpr double kMarkHz = 1200.0;
    static constexpr double kSpaceHz = 2200.0;
    static constexpr double kBaud = 1200.0;
    static constexpr std::size_t kMaxFrameBytes = 400;  // AX.25 limit with 8 digipeaters, margin

    explicit APRSDecoder(double sampleRate);
    APRSDecoder(const APRSDecoder&) = delete;
    APRSDecoder& operator=(const APRSDecoder&) = delete;

    void process(std::span<const float> samples);
    void reset();

    std::function<void(const APRSPacket&)> onPacket;

    int packetCount() const { return packets.load(std::memory_order_relaxed); }
    int fcsFailureCount() const { return fcsFailures.load(std::memory_order_relaxed); }

private:
    void resetLocked();
    void toneSample(float x);
    void handleBit(int bit);
    void appendDataBit(int bit);
    void finishFrame();
    void recomputeSums();

    mutable std::mutex mutex;
    const double sampleRate;
    const double samplesPerBit;
    const std::size_t windowLength;       // samples per bit, rounded
    const std::complex<double> markStep;  // e^{-j 2 pi f / rate}
    const std::complex<double> spaceStep;

    // Sliding DFT over the last windowLength samples, per tone.
    std::vector<std::complex<float>> markTerms;
    std::vector<std::complex<float>> spaceTerms;
    std::size_t termIndex = 0;
    std::uint64_t sampleCount = 0;
    std::complex<double> markPhasor{1.0, 0.0};
    std::complex<double> spacePhasor{1.0, 0.0};
    std::complex<double> markSum;
    std::complex<double> spaceSum;

    // Bit clock.
    double pllPhase = 0.0;                // fraction of a bit; a bit is sampled at each wrap
    bool currentDecisionMark = true;

    // HDLC deframer.
    bool lastToneWasMark = true;
    int consecutiveOnes = 0;
    bool awaitingFlagTrailingZero = false;
    std::uint8_t rawBitAccum = 0;
    int rawBitCount = 0;
    std::vector<std::uint8_t> frameBytes;
    bool inFrame = false;

    std::vector<APRSPacket> ready;        // decoded in this call, delivered after unlocking
    std::mt19937_64 idSource;
    std::atomic<int> packets{0};
    std::atomic<int> fcsFailures{0};
};
