#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "sim/DABTxChannelCoding.h"
#include "sim/DABTxEnsemble.h"
#include "sim/SimRandom.h"

// Builds the main service channel one CIF (24 ms, 864 CU = 55,296 bits) at a time. Each EEP-A
// sub-channel takes a logical frame of 192n data bits from its source (zeros, i.e. padding,
// until a source is set), applies energy dispersal, the rate 1/4 code and the EEP-A puncturing,
// and the 16-CIF time interleaver, and lands at its start CU. UEP sub-channels and unused
// capacity carry pseudo-random bits. One caller at a time; sources run on the caller's thread.
class DABTxMSCEncoder {
public:
    static constexpr std::size_t kCIFBits = 55'296;
    static constexpr int kCUBits = 64;
    static constexpr int kCapacityCU = 864;
    // Fills a logical frame's data bits (one per byte) for the next CIF.
    using Source = std::function<void(std::span<std::uint8_t> dataBits)>;

    explicit DABTxMSCEncoder(const DABTxEnsemble& ensemble);
    DABTxMSCEncoder(const DABTxMSCEncoder&) = delete;
    DABTxMSCEncoder& operator=(const DABTxMSCEncoder&) = delete;

    // Where the next issue's audio super-frames come in; false if id is not an EEP-A sub-channel.
    bool setSubchannelSource(int subchannelId, Source source);
    // Data bits per logical frame of a sub-channel (192n), 0 if it is not EEP-A coded.
    std::size_t logicalFrameBits(int subchannelId) const;

    // The next CIF; cifBits must hold 55,296 bits.
    void encodeCIF(std::span<std::uint8_t> cifBits);
    void reset();

private:
    struct Subchannel {
        DABTxSubchannel description;
        std::vector<DABTxPunctureRun> runs;  // empty for UEP
        std::vector<std::uint8_t> data;      // one logical frame
        std::vector<std::uint8_t> coded;     // rate 1/4 output
        std::vector<std::uint8_t> history;   // 16 punctured frames, the newest at frame `newest`
        int newest = 0;
        Source source;
    };
    void encodeSubchannel(Subchannel& s, std::span<std::uint8_t> cifBits);

    std::vector<Subchannel> subchannels;
    std::vector<bool> used;  // per CU
    SimRandom filler;
};
