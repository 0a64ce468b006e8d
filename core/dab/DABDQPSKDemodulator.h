#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dab/DABFrequencyDeinterleaver.h"

// Differential QPSK of one OFDM symbol against the previous one: d = current · conj(previous)
// per carrier, two hard bits per carrier (1 = positive component). Inputs are Tu FFT bins in
// FFT order. Stateless; any thread.
class DABDQPSKDemodulator {
public:
    // 3072 bits, pairs (Re, Im) in natural carrier order −768 … −1, 1 … 768; empty unless all
    // four inputs hold Tu values.
    static std::vector<std::uint8_t> demodulate(std::span<const float> previousRe,
                                                std::span<const float> previousIm,
                                                std::span<const float> currentRe,
                                                std::span<const float> currentIm, int Tu = 2048);
    // Logical order after rotating each d by −θ, (cfoCos, cfoSin) = (cos θ, sin θ): the 1536
    // real-part bits, then the 1536 imaginary-part bits.
    static std::vector<std::uint8_t> demodulateLogical(
        std::span<const float> previousRe, std::span<const float> previousIm,
        std::span<const float> currentRe, std::span<const float> currentIm,
        const DABFrequencyDeinterleaver& deinterleaver, float cfoCos = 1.0f, float cfoSin = 0.0f,
        int Tu = 2048);
    // Share of ones in percent (0 for an empty list).
    static double onesPercentage(std::span<const std::uint8_t> bits);
};
