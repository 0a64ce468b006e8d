#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/AACTxMDCT.h"

struct AACLCEncoderConfig {
    int sampleRateHz = 48'000;  // 48 or 32 kHz (the band table is the same for both)
    int channels = 1;           // 1: one SCE, 2: one CPE (independent windows, no M/S)
    int frameLength = 960;      // 960 (DAB+) or 1024 (ADTS files; 48 kHz only)
};

// A small AAC-LC encoder for steady test programmes. Each call takes one frame of PCM per
// channel (full scale ±1) and writes one raw_data_block (SCE or CPE, then END, byte-aligned;
// no ADTS header) of at most the given size: long blocks with the sine window only, no TNS,
// no pulse data, no M/S. One global step is searched so that the block fits; a band's
// scalefactor rises above it only where its values would overflow the escape code or the
// scalefactor chain would jump by more than 60. The decoder's output lags the input by one
// frame (the MDCT overlap). ISO/IEC 14496-3 subclause 4.4.2 (syntax) and 4.6 (tools).
// One caller at a time.
class AACLCEncoder {
public:
    static constexpr int kBands = 49;

    explicit AACLCEncoder(const AACLCEncoderConfig& config);
    AACLCEncoder(const AACLCEncoder&) = delete;
    AACLCEncoder& operator=(const AACLCEncoder&) = delete;

    // One frame; `right` is ignored for mono. Returns the access unit, at most maxBytes long.
    std::vector<std::uint8_t> encode(std::span<const float> left, std::span<const float> right,
                                     std::size_t maxBytes);
    // The same into a caller's buffer (its size is the budget); returns the bytes written.
    std::size_t encode(std::span<const float> left, std::span<const float> right,
                       std::span<std::uint8_t> out);
    void reset();

    const AACLCEncoderConfig& config() const { return settings; }
    // The smallest access unit this configuration can produce (all bands silent).
    std::size_t minimumBytes() const;

private:
    struct Channel {
        std::vector<float> block;     // previous and current frame, 2N samples
        std::vector<float> spectrum;  // N MDCT coefficients
        std::vector<float> power;     // |X|^(3/4) per coefficient
        std::vector<int> quantised;   // N values, signs applied
        std::array<int, kBands> scalefactor{};
        std::array<int, kBands> book{};
        int maxBands = 0;  // max_sfb
        int globalGain = 0;
    };
    void analyse(Channel& c, std::span<const float> pcm);
    // Quantises with `step` as the common scalefactor; returns the channel stream's size in bits.
    std::size_t quantise(Channel& c, int step);
    void quantiseBand(Channel& c, int band);
    void writeChannelStream(const Channel& c, class AACTxBitWriter& w) const;

    AACLCEncoderConfig settings;
    std::span<const int> edges;  // kBands + 1 band edges
    AACTxMDCT mdct;
    std::vector<Channel> channels;
};
