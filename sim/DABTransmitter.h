#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/DABTxEnsemble.h"
#include "sim/DABTxFICEncoder.h"
#include "sim/DABTxMSCEncoder.h"
#include "sim/DABTxOFDMModulator.h"

struct DABTransmitterConfig {
    DABTxEnsemble ensemble;
    // Complex rms of the OFDM symbols, full-scale units at the reference gain (the null symbol
    // is silent, so the frame average is about 1.3 % lower).
    double amplitude = 0.05;
};

// A DAB mode I transmitter at 2,048,000 samples/s: each call builds the next transmission frame
// (FIC from the ensemble's FIG carousel, four CIFs from the MSC encoder, OFDM). Frames are
// numbered; frame f carries CIF counts 4f .. 4f+3 (modulo 5000). One caller at a time.
class DABTransmitter {
public:
    static constexpr int kFrameSamples = DABTxOFDMModulator::kFrameSamples;  // 196,608
    static constexpr int kCIFsPerFrame = 4;
    static constexpr int kSymbolsPerCIF = 18;

    explicit DABTransmitter(const DABTransmitterConfig& config);
    DABTransmitter(const DABTransmitter&) = delete;
    DABTransmitter& operator=(const DABTransmitter&) = delete;

    // out must hold kFrameSamples samples. Frames may be skipped or repeated; the carousel and
    // the MSC just go on.
    void renderFrame(std::int64_t frameIndex, std::span<std::complex<float>> out);

    const DABTxEnsemble& ensemble() const { return description; }
    DABTxFICEncoder& fic() { return ficEncoder; }
    DABTxMSCEncoder& msc() { return mscEncoder; }
    // The bits of the last frame, as they went onto symbols 2..76.
    std::span<const std::uint8_t> lastFrameBits() const { return frameBits; }
    static int cifCountOf(std::int64_t frameIndex);

private:
    DABTxEnsemble description;
    float amplitude;
    DABTxFICEncoder ficEncoder;
    DABTxMSCEncoder mscEncoder;
    DABTxOFDMModulator modulator;
    std::vector<std::uint8_t> frameBits;
};
