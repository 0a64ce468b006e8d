#include "sim/DABTxOFDMModulator.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <fftw3.h>
#include <mutex>
#include <numbers>

#include "dsp/FFTWPlannerLock.h"
#include "sim/DABTxTables.h"

namespace {
// e^{jπm/4}: differential phases are whole eighth turns, so they are tracked exactly as integers.
std::complex<float> eighthTurn(int m) {
    constexpr float h = std::numbers::sqrt2_v<float> / 2.0f;
    constexpr std::array<std::complex<float>, 8> kPhasors{
        std::complex<float>{1, 0},  {h, h},   {0, 1},  {-h, h},
        std::complex<float>{-1, 0}, {-h, -h}, {0, -1}, {h, -h}};
    return kPhasors[static_cast<std::size_t>(m & 7)];
}

// QPSK value ((1-2p) + j(1-2q))/√2 as eighth turns: (0,0)→1, (1,0)→3, (1,1)→5, (0,1)→7.
constexpr std::array<std::uint8_t, 4> kQPSKEighths{1, 7, 3, 5};  // index 2p + q

int fftBin(int k) { return (k + DABTxOFDMModulator::kFFTSize) % DABTxOFDMModulator::kFFTSize; }
}  // namespace

void DABTxOFDMModulator::PlanDestroyer::operator()(fftwf_plan_s* p) const noexcept {
    std::lock_guard lock(fftwPlannerMutex());
    fftwf_destroy_plan(p);
}

void DABTxOFDMModulator::Free::operator()(std::complex<float>* p) const noexcept { fftwf_free(p); }

DABTxOFDMModulator::DABTxOFDMModulator()
    : spectrum(static_cast<std::complex<float>*>(fftwf_malloc(sizeof(std::complex<float>) * kFFTSize))) {
    // Frequency interleaving, clause 14.6.1: Π(i) = (13Π(i-1) + 511) mod 2048 from Π(0) = 0,
    // keeping 256..1792 without 1024; the n-th kept value d gives carrier d - 1024.
    int pi = 0, n = 0;
    for (int i = 1; i < kFFTSize && n < kCarriers; ++i) {
        pi = (13 * pi + 511) % kFFTSize;
        if (pi >= 256 && pi <= 1792 && pi != 1024) interleaving[static_cast<std::size_t>(n++)] = pi - 1024;
    }
    assert(n == kCarriers);
    for (int k = -768; k <= 768; ++k)
        if (k != 0) prsQuarterTurns[static_cast<std::size_t>(k + 768)] = static_cast<std::uint8_t>(dabTxPRSQuarterTurns(k));
    std::fill_n(spectrum.get(), kFFTSize, std::complex<float>{});
    std::lock_guard lock(fftwPlannerMutex());
    auto* buffer = reinterpret_cast<fftwf_complex*>(spectrum.get());
    plan.reset(fftwf_plan_dft_1d(kFFTSize, buffer, buffer, FFTW_BACKWARD, FFTW_ESTIMATE));
}

DABTxOFDMModulator::~DABTxOFDMModulator() = default;

void DABTxOFDMModulator::transformSymbol(std::span<std::complex<float>> out, float scale) {
    std::fill_n(spectrum.get(), kFFTSize, std::complex<float>{});
    for (int n = 0; n < kCarriers; ++n)
        spectrum[static_cast<std::size_t>(fftBin(interleaving[static_cast<std::size_t>(n)]))] =
            eighthTurn(phaseEighths[static_cast<std::size_t>(n)]);
    auto* buffer = reinterpret_cast<fftwf_complex*>(spectrum.get());
    fftwf_execute_dft(plan.get(), buffer, buffer);
    // The guard interval repeats the end of the useful part.
    for (int t = 0; t < kGuardSamples; ++t)
        out[static_cast<std::size_t>(t)] = scale * spectrum[static_cast<std::size_t>(kFFTSize - kGuardSamples + t)];
    for (int t = 0; t < kFFTSize; ++t)
        out[static_cast<std::size_t>(kGuardSamples + t)] = scale * spectrum[static_cast<std::size_t>(t)];
}

void DABTxOFDMModulator::modulate(std::span<const std::uint8_t> bits, std::span<std::complex<float>> out,
                                  float rms) {
    assert(bits.size() >= kFrameBits && out.size() >= static_cast<std::size_t>(kFrameSamples));
    // Unnormalised inverse FFT of 1536 unit carriers has rms √1536.
    const float scale = rms / std::sqrt(static_cast<float>(kCarriers));
    std::fill_n(out.begin(), kNullSamples, std::complex<float>{});
    for (int n = 0; n < kCarriers; ++n)
        phaseEighths[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(
            2 * prsQuarterTurns[static_cast<std::size_t>(interleaving[static_cast<std::size_t>(n)] + 768)]);
    for (int l = 0; l < kSymbolsPerFrame; ++l) {
        if (l > 0) {
            const std::uint8_t* p = bits.data() + static_cast<std::size_t>(l - 1) * kBitsPerSymbol;
            for (int n = 0; n < kCarriers; ++n) {
                const int index = 2 * p[n] + p[n + kCarriers];
                phaseEighths[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(
                    (phaseEighths[static_cast<std::size_t>(n)] + kQPSKEighths[static_cast<std::size_t>(index)]) & 7);
            }
        }
        transformSymbol(out.subspan(static_cast<std::size_t>(kNullSamples + l * kSymbolSamples), kSymbolSamples), scale);
    }
}
