#include "dab/DABFICDecoder.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "dab/DABCRC16.h"
#include "dab/DABFrequencyDeinterleaver.h"

namespace {

constexpr int kCIFs = 4;
constexpr int kFICBlockBits = 768;        // one FIC block per CIF after decoding
constexpr int kFICCodedBits = 2304;       // transmitted bits per block
constexpr int kMotherBits = 4 * (kFICBlockBits + 6);  // 3096
constexpr int kFIBBits = 256;
constexpr int kFIBsPerBlock = 3;
constexpr int kFIBsPerFrame = kCIFs * kFIBsPerBlock;
constexpr int kFIBDataBytes = 30;
constexpr int kHardSoft = 255;
constexpr int kHalfCarriers = 768;

std::vector<bool> buildPunctureTable() {
    // EN 300 401 11.2, mode I FIC: 21 blocks of 128 mother-code bits at PI 16, 3 at PI 15, then
    // the tail vector; 2016 + 276 + 12 = 2304 bits kept of 3096.
    std::vector<bool> table;
    table.reserve(kMotherBits);
    auto apply = [&table](std::uint32_t vector, int bits) {
        for (int b = bits - 1; b >= 0; --b) table.push_back(((vector >> b) & 1U) != 0);
    };
    for (int block = 0; block < 24; ++block) {
        const std::uint32_t vector = DABFICDecoder::pCodes[block < 21 ? 15 : 14];
        for (int rep = 0; rep < 4; ++rep) apply(vector, 32);
    }
    apply(DABFICDecoder::kTailVector, 24);
    return table;
}

std::vector<std::uint8_t> buildPRBS() {
    // EN 300 401 10.2: x^9 + x^5 + 1, register all ones; stage 1 in bit 0.
    std::vector<std::uint8_t> seq(kFICBlockBits);
    unsigned reg = 0x1FF;
    for (auto& bit : seq) {
        const unsigned out = ((reg >> 8) ^ (reg >> 4)) & 1U;
        reg = ((reg << 1) | out) & 0x1FF;
        bit = static_cast<std::uint8_t>(out);
    }
    return seq;
}

std::complex<float> differential(std::complex<float> current, std::complex<float> previous,
                                 std::complex<float> derotation) {
    return current * std::conj(previous) * derotation;
}

}  // namespace

DABFICDecoder::DABFICDecoder()
    : punctureTable(buildPunctureTable()),
      prbs(buildPRBS()),
      previousBins(Tu),
      currentBins(Tu),
      binOfLogical(ficCarrierCount, -1),
      ficBits(kFICBitsPerFrame),
      depunctured(kMotherBits),
      decoded(kFICBlockBits) {}

const std::vector<int>& DABFICDecoder::ficCarrierOrder() {
    static const std::vector<int> order = DABFrequencyDeinterleaver().carriers();
    return order;
}

double DABFICDecoder::symbolPhaseStepRad(int binShift, double dfHz, double sampleRate) {
    // A carrier offset turns every carrier by 2π·offset·Ts/fs from one symbol to the next.
    // Whole carriers count too: Ts is not a multiple of Tu, so they leave a common turn.
    const double offsetHz = dfHz + binShift * sampleRate / Tu;
    return 2.0 * std::numbers::pi * offsetHz * Ts / sampleRate;
}

bool DABFICDecoder::fftInto(std::span<const IQSample> iq, int symbolStart,
                            std::vector<std::complex<float>>& bins) const {
    return ofdm.fftSymbolInto(iq, symbolStart, bins);
}

void DABFICDecoder::logicalBins(int binShift) {
    const std::vector<int>& order = ficCarrierOrder();
    const int shift = ((binShift % Tu) + Tu) % Tu;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const int k = order[i];
        if (k == 0 || k < -kHalfCarriers || k > kHalfCarriers) {
            binOfLogical[i] = -1;
            continue;
        }
        binOfLogical[i] = ((k < 0 ? k + Tu : k) + shift) % Tu;
    }
}

std::optional<DABEnsembleInfo> DABFICDecoder::decode(std::span<const IQSample> iq, int symbolStart,
                                                     int binShift, double dfHz, double sampleRate) {
    status = "FIC extract\u2026";
    goodFIBs = 0;
    if (symbolStart < 0 ||
        iq.size() < static_cast<std::size_t>(symbolStart) + (ficSymbolCount + 1) * Ts) {
        status = "FIC: short IQ";
        return std::nullopt;
    }
    const double theta = symbolPhaseStepRad(binShift, dfHz, sampleRate);
    const std::complex<float> derotation(static_cast<float>(std::cos(theta)),
                                         static_cast<float>(-std::sin(theta)));
    logicalBins(binShift);

    if (!fftInto(iq, symbolStart, previousBins)) {
        status = "FIC: FFT fail @0";
        return std::nullopt;
    }
    std::size_t count = 0;
    for (int symbol = 1; symbol <= ficSymbolCount; ++symbol) {
        if (!fftInto(iq, symbolStart + symbol * Ts, currentBins)) {
            status = "FIC: FFT fail @" + std::to_string(symbol);
            return std::nullopt;
        }
        std::uint8_t* out = ficBits.data() + count;
        for (int i = 0; i < ficCarrierCount; ++i) {
            const int bin = binOfLogical[static_cast<std::size_t>(i)];
            if (bin < 0) {
                out[i] = out[i + ficCarrierCount] = 0;
                continue;
            }
            const auto b = static_cast<std::size_t>(bin);
            const std::complex<float> d = differential(currentBins[b], previousBins[b], derotation);
            out[i] = d.real() > 0.0f ? 1 : 0;
            out[i + ficCarrierCount] = d.imag() > 0.0f ? 1 : 0;
        }
        count += 2 * ficCarrierCount;
        std::swap(previousBins, currentBins);
    }
    if (count != kFICBitsPerFrame) {
        status = "FIC: bad bit count " + std::to_string(count);
        return std::nullopt;
    }
    return decodeFICBits(ficBits);
}

std::optional<DABEnsembleInfo> DABFICDecoder::decodeFICBits(std::span<const std::uint8_t> bits) {
    goodFIBs = 0;
    if (bits.size() != kFICBitsPerFrame) {
        status = "FIC: bad bit count " + std::to_string(bits.size());
        return std::nullopt;
    }
    Accumulators acc;
    std::array<std::uint8_t, kFIBBits / 8> fibBytes{};
    for (int cif = 0; cif < kCIFs; ++cif) {
        const std::uint8_t* block = bits.data() + cif * kFICCodedBits;
        // Hard bit 1 is a positive component, which stands for code bit 0.
        std::size_t taken = 0;
        for (std::size_t n = 0; n < punctureTable.size(); ++n) {
            depunctured[n] = punctureTable[n] ? (block[taken++] != 0 ? kHardSoft : -kHardSoft) : 0;
        }
        if (!viterbi.deconvolve(depunctured, kFICBlockBits, decoded)) continue;
        for (std::size_t n = 0; n < decoded.size(); ++n) decoded[n] ^= prbs[n];
        for (int f = 0; f < kFIBsPerBlock; ++f) {
            const std::span<const std::uint8_t> fib(decoded.data() + f * kFIBBits, kFIBBits);
            if (!fibCRC(fib)) continue;
            ++goodFIBs;
            for (std::size_t byte = 0; byte < fibBytes.size(); ++byte) {
                std::uint8_t v = 0;
                for (std::size_t b = 0; b < 8; ++b) v = static_cast<std::uint8_t>(v << 1 | fib[8 * byte + b]);
                fibBytes[byte] = v;
            }
            parseFIB(std::span(fibBytes).first(kFIBDataBytes), acc);
        }
    }
    if (goodFIBs == 0) {
        status = "FIC CRC 0/12";
        return std::nullopt;
    }
    status = "FIC CRC " + std::to_string(goodFIBs) + "/" + std::to_string(kFIBsPerFrame) +
             " \u00B7 svc " + std::to_string(acc.services.size());

    resolvePacketLinks(acc, packetSubchannels);
    DABEnsembleInfo info{.ensembleId = acc.ensembleId,
                         .subchannels = std::move(acc.subchannels),
                         .serviceLinks = std::move(acc.serviceLinks)};
    // The map is keyed by the unsigned SId, so this lists services in ascending SId.
    for (auto& [sid, service] : acc.services) info.services.push_back(std::move(service));
    if (!acc.ensembleLabel.empty()) {
        info.label = acc.ensembleLabel;
    } else if (acc.ensembleId != 0) {
        char text[16];
        std::snprintf(text, sizeof text, "Ensemble %04X", acc.ensembleId);
        info.label = text;
    } else {
        info.label = "Ensemble";
    }
    return info;
}

bool DABFICDecoder::fibCRC(std::span<const std::uint8_t> fibBits) {
    if (fibBits.size() != kFIBBits) return false;
    std::array<std::uint8_t, kFIBBits / 8> bytes{};
    for (std::size_t n = 0; n < fibBits.size(); ++n) {
        bytes[n / 8] = static_cast<std::uint8_t>(bytes[n / 8] << 1 | (fibBits[n] & 1U));
    }
    const auto received = static_cast<std::uint16_t>(bytes[30] << 8 | bytes[31]);
    return DABCRC16::compute(std::span(bytes).first(kFIBDataBytes)) ==
           static_cast<std::uint16_t>(~received);
}

std::optional<std::vector<float>> DABFICDecoder::extractMSCFrameBits(std::span<const IQSample> iq,
                                                                     int symbol0Start, int binShift,
                                                                     double dfHz, double sampleRate) {
    std::vector<float> out(kMSCSoftValues);
    if (!extractMSCFrameBits(iq, symbol0Start, binShift, dfHz, sampleRate, out)) return std::nullopt;
    return out;
}

bool DABFICDecoder::extractMSCFrameBits(std::span<const IQSample> iq, int symbol0Start, int binShift,
                                        double dfHz, double sampleRate, std::span<float> out) {
    constexpr int kSymbols = 1 + ficSymbolCount + kMSCSymbols;
    if (symbol0Start < 0 || iq.size() < static_cast<std::size_t>(symbol0Start) + kSymbols * Ts ||
        out.size() < kMSCSoftValues) {
        return false;
    }
    const double theta = symbolPhaseStepRad(binShift, dfHz, sampleRate);
    const std::complex<float> derotation(static_cast<float>(std::cos(theta)),
                                         static_cast<float>(-std::sin(theta)));
    logicalBins(binShift);
    // The FIC symbols are only needed as the reference of the first MSC symbol.
    constexpr int kFirstMSC = 1 + ficSymbolCount;
    if (!fftInto(iq, symbol0Start + (kFirstMSC - 1) * Ts, previousBins)) return false;
    std::vector<DABConstellationPoint> points;
    for (int symbol = kFirstMSC; symbol < kSymbols; ++symbol) {
        if (!fftInto(iq, symbol0Start + symbol * Ts, currentBins)) return false;
        float* soft = out.data() + static_cast<std::size_t>(symbol - kFirstMSC) * 2 * ficCarrierCount;
        for (int i = 0; i < ficCarrierCount; ++i) {
            const int bin = binOfLogical[static_cast<std::size_t>(i)];
            if (bin < 0) {
                soft[i] = soft[i + ficCarrierCount] = 0.0f;
                continue;
            }
            const auto b = static_cast<std::size_t>(bin);
            const std::complex<float> d = differential(currentBins[b], previousBins[b], derotation);
            soft[i] = d.real();
            soft[i + ficCarrierCount] = d.imag();
            if (symbol == kFirstMSC && i % 8 == 0) points.push_back({.re = d.real(), .im = d.imag()});
        }
        std::swap(previousBins, currentBins);
    }
    if (!points.empty()) constellation = std::move(points);
    return true;
}
