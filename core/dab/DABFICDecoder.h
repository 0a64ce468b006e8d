#pragma once

#include <array>
#include <complex>
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
// DABEnsembleInfo. Also extracts the frame's 72 MSC symbols as soft values. Input: mode I at
// 2,048,000 samples/s, time-locked to the PRS. One thread at a time; scratch buffers are
// members, so decode and extractMSCFrameBits do not allocate per FFT.
class DABFICDecoder {
public:
    static constexpr int Tu = 2048;
    static constexpr int Ts = 2552;
    static constexpr int ficSymbolCount = 3;
    static constexpr int ficCarrierCount = 1536;
    static constexpr int kFICBitsPerFrame = ficSymbolCount * 2 * ficCarrierCount;  // 9216
    static constexpr int kMSCSymbols = 72;
    static constexpr int kMSCSoftValues = kMSCSymbols * 2 * ficCarrierCount;  // 221,184

    // EN 300 401 11.1.2: puncturing vectors PI_1 … PI_24 (index PI − 1), first bit in the MSB.
    // Vector PI keeps 8 + PI of each 32 mother-code bits.
    static constexpr std::array<std::uint32_t, 24> pCodes = {
        0xC8888888, 0xC888C888, 0xC8C8C888, 0xC8C8C8C8, 0xCCC8C8C8, 0xCCC8CCC8,
        0xCCCCCCC8, 0xCCCCCCCC, 0xECCCCCCC, 0xECCCECCC, 0xECECECCC, 0xECECECEC,
        0xEEECECEC, 0xEEECEEEC, 0xEEEEEEEC, 0xEEEEEEEE, 0xFEEEEEEE, 0xFEEEFEEE,
        0xFEFEFEEE, 0xFEFEFEFE, 0xFFFEFEFE, 0xFFFEFFFE, 0xFFFFFFFE, 0xFFFFFFFF,
    };
    // The 24 mother-code bits of the six tail bits keep 1100 repeated (12 of 24).
    static constexpr std::uint32_t kTailVector = 0xCCCCCC;

    DABFICDecoder();
    DABFICDecoder(const DABFICDecoder&) = delete;
    DABFICDecoder& operator=(const DABFICDecoder&) = delete;

    // symbolStart: first sample of the PRS (with its guard). binShift: whole-carrier offset,
    // the signal's carrier k sits in bin k + binShift. dfHz: residual offset applied as a
    // per-symbol phase step (0 when already corrected).
    std::optional<DABEnsembleInfo> decode(std::span<const IQSample> iq, int symbolStart, int binShift,
                                          double dfHz, double sampleRate = 2'048'000.0);
    // FIB decoding of 9216 hard bits (three FIC symbols in logical order, 1 = positive
    // component).
    std::optional<DABEnsembleInfo> decodeFICBits(std::span<const std::uint8_t> bits);
    // 72 × 3072 soft values of the MSC symbols (positive = positive component).
    std::optional<std::vector<float>> extractMSCFrameBits(std::span<const IQSample> iq, int symbol0Start,
                                                          int binShift, double dfHz,
                                                          double sampleRate = 2'048'000.0);
    // As above into out (kMSCSoftValues entries); false when the block is too short.
    bool extractMSCFrameBits(std::span<const IQSample> iq, int symbol0Start, int binShift,
                             double dfHz, double sampleRate, std::span<float> out);

    const std::string& lastStatus() const { return status; }
    int lastGoodFIBCount() const { return goodFIBs; }
    const std::vector<DABConstellationPoint>& lastConstellationPoints() const { return constellation; }
    // The frequency-interleaving order: entry i is the carrier k of logical index i.
    static const std::vector<int>& ficCarrierOrder();
    // Common phase turn of one symbol for a signal offset by binShift carriers plus dfHz.
    static double symbolPhaseStepRad(int binShift, double dfHz, double sampleRate);

    // FIG parsing. Accumulators are those of one frame.
    struct Accumulators {
        std::string ensembleLabel;
        std::uint16_t ensembleId = 0;
        std::map<std::uint32_t, DABService> services;
        std::map<int, DABSubchannel> subchannels;
        std::map<std::uint32_t, DABServiceLink> serviceLinks;
        // Packet-mode components name a service component (SCId), not a sub-channel; FIG 0/3
        // tells which sub-channel carries it.
        std::map<std::uint32_t, int> packetComponentOfService;  // SId -> SCId
        std::map<int, int> subchannelOfPacketComponent;         // SCId -> SubChId
    };
    // Links the packet services of `acc` to their sub-channels, from this frame's FIG 0/3 or
    // an earlier frame's (`known`, which learns this frame's).
    static void resolvePacketLinks(Accumulators& acc, std::map<int, int>& known);
    // Walks the FIGs of one FIB's 30-byte data field.
    static void parseFIB(std::span<const std::uint8_t> fibData, Accumulators& acc);
    // data: the FIG's data field, starting with the FIG 0 header byte.
    static void handleFIG0(std::span<const std::uint8_t> data, Accumulators& acc);
    static void parseFIG0_1(std::span<const std::uint8_t> data, std::map<int, DABSubchannel>& subchannels);
    // The service entries of FIG 0/2 (after the FIG 0 header byte); isData = the P/D flag.
    static void parseFIG0_2(std::span<const std::uint8_t> data, bool isData, Accumulators& acc);
    // data: begins with the FIG 1 header byte (charset, OE, extension).
    static void handleFIG1(std::span<const std::uint8_t> data, Accumulators& acc);
    // One 16-byte label through the FIG's character set (0: DAB table, 4: Latin-1, 15: UTF-8),
    // trimmed and reduced to letters, digits, space, '-' and '+'. UTF-8 out.
    static std::optional<std::string> decodeFIGLabel(std::span<const std::uint8_t> label, int charset);
    // 256 bits, one per byte.
    static bool fibCRC(std::span<const std::uint8_t> fibBits);

private:
    bool fftInto(std::span<const IQSample> iq, int symbolStart, std::vector<std::complex<float>>& bins) const;
    void logicalBins(int binShift);

    DABOFDM ofdm;
    DABViterbi viterbi;
    std::vector<bool> punctureTable;  // 3096 entries
    std::vector<std::uint8_t> prbs;   // 768 bits
    std::string status;
    int goodFIBs = 0;
    std::vector<DABConstellationPoint> constellation;
    std::map<int, int> packetSubchannels;  // SCId -> SubChId, as FIG 0/3 last said

    // Scratch, sized at construction.
    std::vector<std::complex<float>> previousBins, currentBins;
    std::vector<int> binOfLogical;  // FFT bin of each logical index for the current binShift
    std::vector<std::uint8_t> ficBits;
    std::vector<int> depunctured;
    std::vector<std::uint8_t> decoded;
};
