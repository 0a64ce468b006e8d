#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/DABTxPADCarousel.h"

// A steady programme: one sine per channel. Tones that complete whole cycles in 120 ms
// (multiples of 25/3 Hz, e.g. every multiple of 50 Hz) loop seamlessly in one super-frame.
struct DABPlusToneProgramme {
    int sampleRateHz = 48'000;  // 48 or 32 kHz AAC-LC
    bool isStereo = false;
    double leftToneHz = 1'000.0;   // the only tone when mono
    double rightToneHz = 1'000.0;  // ignored when mono
    double amplitude = 0.25;       // peak, full scale 1
    bool operator==(const DABPlusToneProgramme&) const = default;
};

struct DABPlusToneSourceConfig {
    int bitrateKbps = 64;
    DABPlusToneProgramme programme;
    std::optional<DABTxPADCarouselConfig> pad;  // dynamic label and slideshow, if any
};

// A DAB+ sub-channel source playing a tone programme. The programme never changes, so the
// constructor encodes it once (a warm-up super-frame for the MDCT overlap, then as many
// super-frames as the tones need to repeat, at most 25 = 3 s) and fillLogicalFrame replays the
// loop one logical frame (24 ms, 24·bit rate bits, one bit per byte, MSB first) at a time:
// a fixed cost per CIF, no allocation. With a PAD carousel, every AU starts with a data stream
// element holding that AU's PAD; the AAC part is encoded once, for the room the largest PAD
// leaves, and the loop stretches to a whole number of both the tone loop and the PAD cycle.
// One caller at a time.
class DABPlusToneSource {
public:
    static constexpr int kMaxLoopSuperframes = 25;
    static constexpr int kLogicalFramesPerSuperframe = 5;

    explicit DABPlusToneSource(const DABPlusToneSourceConfig& config);
    DABPlusToneSource(const DABPlusToneSource&) = delete;
    DABPlusToneSource& operator=(const DABPlusToneSource&) = delete;

    // dataBits must hold 24·bit rate bits.
    void fillLogicalFrame(std::span<std::uint8_t> dataBits);
    void reset() { nextFrame = 0; }

    int loopSuperframes() const { return superframes; }
    // Bytes each AU keeps for its data stream element (0 without PAD).
    std::size_t padReserveBytes() const { return padReserve; }
    // Super-frame i of the loop, 120·s bytes.
    std::span<const std::uint8_t> superframe(int i) const;
    // The access units of super-frame i, as they went in.
    const std::vector<std::vector<std::uint8_t>>& accessUnits(int i) const {
        return aus[static_cast<std::size_t>(i)];
    }

private:
    std::size_t superframeBytes;
    int superframes = 1;
    std::size_t padReserve = 0;
    std::vector<std::uint8_t> loop;  // the super-frames back to back
    std::vector<std::vector<std::vector<std::uint8_t>>> aus;
    std::size_t nextFrame = 0;  // logical frame within the loop
};
