#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "adsb/DecodedADSBMessage.h"
#include "device/IQSample.h"

// Mode S extended-squitter demodulator for IQ at 2,048,000 samples/s (1090 MHz at the centre).
//
// At 2.048 samples per µs a 0.5 µs chip holds one sample (rarely two) and the sampling instant
// drifts through every phase of the chip within a frame, so the chips are read at fractional
// positions: the value of a chip is the magnitude of the sample nearest its centre. As the start
// time moves through one sample, the samples read by the 16 preamble chips change at 16 points, so
// there are 16 distinct start positions per sample; each is tested once with the 1.5-ratio
// preamble test. Neighbouring positions that pass form one candidate; its bits are then sliced at
// every distinct timing (1/125 sample apart) across and just beyond them, outwards from the
// timing where the preamble correlates best, and the first
// slicing with DF17/18 and correct parity is delivered. The search waits at the end of the data
// until a whole frame is in view, so the output does not depend on block sizes.
//
// Threading: process() from one thread at a time; onMessage runs on that thread. reset() and the
// counter getters may be called from any thread (reset takes effect at the next process()).
class ADSBDecoder {
public:
    static constexpr std::uint32_t crcPoly = 0xFFF409;  // Mode S parity generator, 24 bits
    static constexpr double kSampleRateHz = 2'048'000.0;
    static constexpr int kPhases = 16;                  // start positions per sample
    static constexpr int kFrameChips = 240;             // 8 µs preamble + 112 µs of data
    static constexpr float kMinPulseLevel = 0.02f;      // full scale 1.0
    static constexpr std::size_t kMaxDFsSeen = 20;

    ADSBDecoder();
    ADSBDecoder(const ADSBDecoder&) = delete;
    ADSBDecoder& operator=(const ADSBDecoder&) = delete;

    void process(std::span<const IQSample> samples);
    // Empties the sample window (the next block starts a new stream); counters are kept.
    void reset() { resetRequested.store(true, std::memory_order_relaxed); }

    std::function<void(const DecodedADSBMessage&)> onMessage;

    int candidateCount() const { return candidates.load(std::memory_order_relaxed); }
    int validCount() const { return valid.load(std::memory_order_relaxed); }
    int longFormatCount() const { return longFormats.load(std::memory_order_relaxed); }
    float maxObservedMagnitude() const { return maxMagnitude.load(std::memory_order_relaxed); }
    // Downlink formats of the last 20 candidates, oldest first. process() thread only.
    std::vector<int> lastDFsSeen() const;

    // The preamble test on the 16 chips of the first 8 µs: the pulses at 0, 1.0, 3.5 and 4.5 µs
    // must all exceed 1.5 times every other chip, and kMinPulseLevel.
    static bool preambleAccepted(std::span<const float, 16> s);
    // DF17/18 parity: CRC-24 of the first 88 bits equals the last 24 (no address overlay).
    static bool parityMatches(const std::array<std::uint8_t, 112>& bits);

private:
    // Times are counted in 1/125 of a sample: a chip is 128 units (1.024 samples). Start position
    // Q = 16 n + j has its first chip centred in the j-th interval near sample n (see .cpp).
    static constexpr std::uint64_t kChipUnits = 128;
    static constexpr int kRunLimit = 32;              // most start positions in one candidate
    static constexpr std::uint64_t kRefineMarginUnits = 16;
    static std::uint64_t positionUnits(std::uint64_t q);
    static std::uint64_t firstPositionAtOrAfter(std::uint64_t units);
    static constexpr std::size_t kMaxInputChunk = 4096;

    void restart();
    void search();
    bool sampleMayHoldPreamble(std::size_t local) const;
    bool preambleAt(std::uint64_t units) const;
    float chip(std::uint64_t units) const;
    float preambleCorrelation(std::uint64_t units) const;
    std::uint64_t bestTimingOffset(std::uint64_t lo, std::uint64_t hi) const;
    bool sliceAt(std::uint64_t units, std::array<std::uint8_t, 112>& bits, int& df) const;
    void recordDF(int df);

    std::atomic<bool> resetRequested{false};
    std::atomic<int> candidates{0};
    std::atomic<int> valid{0};
    std::atomic<int> longFormats{0};
    std::atomic<float> maxMagnitude{0.0f};

    std::vector<float> sampleWindow;   // magnitudes from windowStart on
    std::uint64_t windowStart = 0;     // absolute index of sampleWindow[0]
    std::uint64_t searchPosition = 0;  // grid index of the next start to test

    std::array<int, kMaxDFsSeen> dfRing{};
    std::size_t dfCount = 0;           // entries ever recorded (ring index = count mod 20)
};
