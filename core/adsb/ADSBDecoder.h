#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <unordered_map>
#include <vector>

#include "adsb/DecodedADSBMessage.h"
#include "device/IQSample.h"

// Mode S extended-squitter demodulator for IQ at 2,048,000 samples/s (1090 MHz at the centre).
//
// A 0.5 µs chip lasts 1.024 samples, so a sample often straddles two chips, and a real dongle
// delivers the pulses band-limited (rounded, spread into the neighbouring samples) at whatever
// sub-sample timing the reply happens to have. At timings near half a sample a run of equal bits
// then reads as a flat level, and comparing the two chips of a bit fails. Instead, for each of 16
// timings an eighth of a sample apart, the decoder knows how much each chip contributes to each
// sample (a sample's aperture of one sample, widened by a Gaussian for the band-limiting), and
// chooses the bit sequence that best explains the magnitudes: a Viterbi search over the last two
// bits, with the pulse and gap levels measured on the preamble.
//
// Around each sample that a cheap first test lets through, the preamble template is fitted at
// every timing; the best fit is accepted when it correlates well and its pulses stand clear of
// the noise floor. Neighbouring timings are tried when the parity fails. A DF17/18 frame whose
// parity fails by exactly one bit is repaired only when the repaired address was heard in a
// clean frame within the last minute.
//
// Output does not depend on how the input is split into blocks: the search waits until a whole
// frame is in view, and the noise floor is measured over fixed stretches of the stream.
//
// Threading: process() from one thread at a time; onMessage runs on that thread. reset() and the
// counter getters may be called from any thread (reset takes effect at the next process()).
class ADSBDecoder {
public:
    static constexpr std::uint32_t crcPoly = 0xFFF409;  // Mode S parity generator, 24 bits
    static constexpr double kSampleRateHz = 2'048'000.0;
    static constexpr double kSamplesPerChip = 1.024;  // 0.5 µs at 2.048 MS/s
    static constexpr int kFrameChips = 240;           // 8 µs preamble + 112 µs of data
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
    int repairedCount() const { return repaired.load(std::memory_order_relaxed); }
    float maxObservedMagnitude() const { return maxMagnitude.load(std::memory_order_relaxed); }
    float noiseFloor() const { return noiseLevel.load(std::memory_order_relaxed); }
    // Samples received since construction: the stream clock of DecodedADSBMessage::sampleIndex.
    // process() thread only.
    std::uint64_t streamSamples() const { return streamEnd; }
    // Downlink formats of the last 20 candidates, oldest first. process() thread only.
    std::vector<int> lastDFsSeen() const;

    // CRC-24 of the first 88 bits XOR the last 24: 0 for a clean DF17/18 frame.
    static std::uint32_t syndrome(const std::array<std::uint8_t, 112>& bits);
    static bool parityMatches(const std::array<std::uint8_t, 112>& bits) {
        return syndrome(bits) == 0;
    }

private:
    static constexpr int kPhasesPerSample = 8;
    static constexpr int kPhases = 2 * kPhasesPerSample;  // timings n - 0.5 ... n + 1.375
    static constexpr std::size_t kSegment = 1'024;        // noise floor measured per segment
    static constexpr std::size_t kSegmentsKept = 16;
    static constexpr std::size_t kMaxInputChunk = 4'096;
    static constexpr std::uint64_t kKnownAddressSamples = 60 * 2'048'000ULL;

    static constexpr std::size_t kFrameReach = 252;      // samples a frame may touch
    static constexpr std::size_t kPreambleSamples = 18;  // most samples of chips 0-15 alone

    // How a frame shows in the samples at one timing, for one kind of receive chain.
    struct SampleModel {
        std::int16_t bit = -1;            // latest bit the sample depends on; -1: preamble only
        std::array<float, 8> expected{};  // by (bit - 2, bit - 1, bit), in pulse heights
    };
    struct PhaseModel {
        std::array<float, kPreambleSamples> preamble{};  // template of the preamble pulses
        std::size_t preambleSamples = 0;
        std::array<SampleModel, kFrameReach> samples{};
        std::array<std::int16_t, 113> bitStart{};  // first sample of bit i; [112] = end
    };
    using FrameModel = std::array<PhaseModel, kPhases>;
    // Band-limited samples (a dongle), then sharp point samples (an ideal or wide-band chain).
    static constexpr std::size_t kModels = 2;
    using FrameModels = std::array<FrameModel, kModels>;
    struct Slice {
        std::array<std::uint8_t, 112> bits{};
        int df = 0;
    };
    struct PreambleFit {
        float correlation = -1.0f;
        float pulseLevel = 0.0f;  // magnitude of a pulse over the gap level
        float gapLevel = 0.0f;
    };

    void restart();
    void updateNoiseFloor(std::size_t from);
    void search();
    float noiseFloorAt(std::uint64_t sample) const;
    bool mayHoldPreamble(const float* m, float noise) const;
    static PreambleFit fitPreamble(const PhaseModel& pm, const float* m);
    // The first `bitCount` bits by the Viterbi search.
    static void slice(const PhaseModel& pm, const float* m, const PreambleFit& fit, Slice& out,
                      int bitCount);
    // Slices at the best timing and its neighbours; the timing that passed the parity, or -1.
    int tryTimings(const FrameModel& model, const float* m, int best, const PreambleFit& fit);
    bool tryRepair(Slice& s, std::uint64_t at);
    void deliver(const Slice& s, std::uint64_t at, float level, int corrected);
    void recordDF(int df);

    static const FrameModels& frameModels();
    static FrameModel buildFrameModel(double boxWidth, double sigma);

    std::atomic<bool> resetRequested{false};
    std::atomic<int> candidates{0};
    std::atomic<int> valid{0};
    std::atomic<int> longFormats{0};
    std::atomic<int> repaired{0};
    std::atomic<float> maxMagnitude{0.0f};
    std::atomic<float> noiseLevel{0.0f};

    const FrameModels& models;
    std::vector<float> sampleWindow;   // magnitudes from windowStart on
    std::uint64_t windowStart = 0;     // absolute index of sampleWindow[0]
    std::uint64_t searchPosition = 1;  // absolute sample of the next search
    std::uint64_t streamEnd = 0;       // samples received since the restart
    double segmentSum = 0.0;
    std::array<float, kSegmentsKept> segmentMeans{};
    // Floor as it stood after each recent segment: a search uses the one before its sample, so
    // the result does not depend on where blocks end.
    std::array<float, kSegmentsKept> floorAfterSegment{};
    std::size_t segmentsDone = 0;

    // The first slicing of the current candidate, kept for the count and a repair.
    int firstDF = -1;
    Slice firstSlice;
    float firstLevel = 0.0f;
    int firstPhase = 0;

    std::unordered_map<std::uint32_t, std::uint64_t> knownAddresses;  // address -> last heard
    std::unordered_map<std::uint32_t, int> repairTable;               // syndrome -> bit

    std::array<int, kMaxDFsSeen> dfRing{};
    std::size_t dfCount = 0;  // entries ever recorded (ring index = count mod 20)
};
