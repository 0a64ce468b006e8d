#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dab/DABOFDM.h"
#include "dab/DABTypes.h"
#include "dab/DABViterbi.h"
#include "device/IQSample.h"

// The Fast Information Channel of one transmission frame: three FIC symbols demodulated,
// depunctured, Viterbi-decoded, de-dispersed and CRC-checked into FIBs whose FIGs fill a
// DABEnsembleInfo. Also extracts the frame's 72 MSC symbols as soft values. One thread at
// a time.
class DABFICDecoder {
public:
    static constexpr int Tu = 2048;
    static constexpr int Ts = 2552;
    static constexpr int ficSymbolCount = 3;
    static constexpr int ficCarrierCount = 1536;

    DABFICDecoder();

    // symbolStart: first sample of the PRS (with its guard). binShift: whole-carrier offset.
    // dfHz: residual offset applied as a per-symbol phase step (0 when already corrected).
    std::optional<DABEnsembleInfo> decode(std::span<const IQSample> iq, int symbolStart, int binShift,
                                          double dfHz, double sampleRate = 2'048'000.0);
    // FIB decoding of 9216 hard bits (three FIC symbols in logical order).
    std::optional<DABEnsembleInfo> decodeFICBits(std::span<const std::uint8_t> bits);
    // 72 × 3072 soft values of the MSC symbols (positive = positive component).
    std::optional<std::vector<float>> extractMSCFrameBits(std::span<const IQSample> iq, int symbol0Start,
                                                          int binShift, double dfHz,
                                                          double sampleRate = 2'048'000.0);

    const std::string& lastStatus() const { return status; }
    int lastGoodFIBCount() const { return goodFIBs; }
    const std::vector<DABConstellationPoint>& lastConstellationPoints() const { return constellation; }
    // The frequency-interleaving order: entry i is the carrier k of logical index i.
    static const std::vector<int>& ficCarrierOrder();

    // FIG parsing. Accumulators are those of one frame.
    struct Accumulators {
        std::string ensembleLabel;
        std::uint16_t ensembleId = 0;
        std::map<std::uint32_t, DABService> services;
        std::map<int, DABSubchannel> subchannels;
        std::map<std::uint32_t, DABServiceLink> serviceLinks;
    };
    // Walks the FIGs of one FIB's 30-byte data field.
    static void parseFIB(std::span<const std::uint8_t> fibData, Accumulators& acc);
    // data: the FIG's data field, starting with the FIG 0 header byte.
    static void handleFIG0(std::span<const std::uint8_t> data, Accumulators& acc);
    static void parseFIG0_1(std::span<const std::uint8_t> data, std::map<int, DABSubchannel>& subchannels);
    // data: begins with the FIG 1 header byte (charset, OE, extension).
    static void handleFIG1(std::span<const std::uint8_t> data, Accumulators& acc);
    // One 16-byte label through the FIG's character set (0: DAB table, 15: UTF-8).
    static std::optional<std::string> decodeFIGLabel(std::span<const std::uint8_t> label, int charset);
    // 256 bits, one per byte.
    static bool fibCRC(std::span<const std::uint8_t> fibBits);

private:
    DABOFDM ofdm;
    DABViterbi viterbi;
    std::vector<bool> punctureTable;  // 3096 entries
    std::vector<std::uint8_t> prbs;   // 768 bits
    std::string status;
    int goodFIBs = 0;
    std::vector<DABConstellationPoint> constellation;
};
