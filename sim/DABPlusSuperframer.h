#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/DABPlusRSEncoder.h"

struct DABPlusSuperframerConfig {
    int bitrateKbps = 64;       // a multiple of 8
    int sampleRateHz = 48'000;  // 48 or 32 kHz AAC-LC without SBR
    bool isStereo = false;
};

// Packs AAC access units into DAB+ audio super-frames (ETSI TS 102 563): five logical frames,
// 120·s bytes with s = bit rate / 8 kbit/s. The first 110·s bytes hold the header (fire code,
// format byte, the 12-bit start addresses of AUs 2..n), the AUs each followed by their CRC-16
// and zero padding; the last 10·s bytes are the Reed-Solomon parity of the s interleaved
// codewords (codeword k takes bytes k, k + s, k + 2s, ...). 48 kHz carries 6 AUs of 20 ms,
// 32 kHz 4 AUs of 30 ms. One caller at a time.
class DABPlusSuperframer {
public:
    explicit DABPlusSuperframer(const DABPlusSuperframerConfig& config);

    int accessUnits() const { return auCount; }
    std::size_t superframeBytes() const { return 120 * static_cast<std::size_t>(s); }
    std::size_t headerBytes() const;  // where the first AU starts: 11 for 6 AUs, 8 for 4
    // The largest AU such that accessUnits() of them always fit one super-frame.
    std::size_t accessUnitCapacity() const;

    // One super-frame from accessUnits() AUs; false (superframe untouched) if they do not fit.
    bool build(std::span<const std::vector<std::uint8_t>> aus,
               std::span<std::uint8_t> superframe) const;

private:
    DABPlusSuperframerConfig settings;
    int s;
    int auCount;
    DABPlusRSEncoder rs;
};

// The fire code over the nine bytes that follow it (bytes 2..10): generator
// x^16 + x^14 + x^13 + x^12 + x^11 + x^5 + x^3 + x^2 + x + 1, register starting at zero.
std::uint16_t dabPlusFireCode(std::span<const std::uint8_t> nineBytes);
// An AU's CRC: x^16 + x^12 + x^5 + 1, register starting at all ones, sent complemented.
std::uint16_t dabPlusAUCRC(std::span<const std::uint8_t> au);
