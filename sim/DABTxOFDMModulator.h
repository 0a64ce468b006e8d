#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct fftwf_plan_s;

// Mode I OFDM at 2,048,000 samples/s: a transmission frame is the null symbol (2656 zero
// samples), the phase reference symbol and 75 data symbols of 2552 samples (504-sample cyclic
// prefix + 2048), 196,608 samples = 96 ms. Each data symbol takes 3072 bits: bits n and n + 1536
// form the QPSK value of logical carrier n, frequency interleaving moves it to carrier k, and
// carrier k's phase advances on the previous symbol's (differential modulation, starting from
// the phase reference). EN 300 401 clause 14. One caller at a time.
class DABTxOFDMModulator {
public:
    static constexpr int kFFTSize = 2048;
    static constexpr int kCarriers = 1536;
    static constexpr int kGuardSamples = 504;
    static constexpr int kSymbolSamples = kFFTSize + kGuardSamples;  // 2552
    static constexpr int kNullSamples = 2656;
    static constexpr int kSymbolsPerFrame = 76;  // phase reference + 3 FIC + 72 MSC
    static constexpr int kFrameSamples = kNullSamples + kSymbolsPerFrame * kSymbolSamples;
    static constexpr std::size_t kBitsPerSymbol = 2 * kCarriers;
    static constexpr std::size_t kFrameBits = (kSymbolsPerFrame - 1) * kBitsPerSymbol;

    DABTxOFDMModulator();
    DABTxOFDMModulator(const DABTxOFDMModulator&) = delete;
    DABTxOFDMModulator& operator=(const DABTxOFDMModulator&) = delete;
    ~DABTxOFDMModulator();

    // bits: the 75 data symbols' bits in order (FIC first); out: 196,608 samples whose OFDM
    // symbols have complex rms `rms`.
    void modulate(std::span<const std::uint8_t> bits, std::span<std::complex<float>> out, float rms);

    // Carrier k (-768..768, not 0) of logical carrier n.
    int carrierOf(int n) const { return interleaving[static_cast<std::size_t>(n)]; }
    // The phase reference in quarter turns by carrier index k + 768.
    const std::array<std::uint8_t, 1537>& referenceQuarterTurns() const { return prsQuarterTurns; }

private:
    struct PlanDestroyer {
        void operator()(fftwf_plan_s* plan) const noexcept;
    };
    struct Free {
        void operator()(std::complex<float>* p) const noexcept;
    };
    void transformSymbol(std::span<std::complex<float>> out, float scale);

    std::array<int, kCarriers> interleaving{};
    std::array<std::uint8_t, 1537> prsQuarterTurns{};
    std::array<std::uint8_t, kCarriers> phaseEighths{};  // per logical carrier, differential state
    std::unique_ptr<std::complex<float>[], Free> spectrum;  // FFTW-aligned, in place
    std::unique_ptr<fftwf_plan_s, PlanDestroyer> plan;
};
