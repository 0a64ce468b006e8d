#include "dab/DABOFDM.h"

#include <array>
#include <cassert>
#include <cmath>
#include <mutex>
#include <numbers>

#include <fftw3.h>

#include "dsp/FFTWPlannerLock.h"

namespace {

constexpr int kHalfCarriers = 768;
// Carriers this close to DC are skipped by the PRS correlation: the tuner's DC spike.
constexpr int kDCGuardBins = 80;

// EN 300 401 14.3.2, mode I: for each run of 32 carriers starting at kPrime, the row i of
// kPRSH and the phase offset n, both in quarter turns.
struct PRSRun {
    int kPrime;
    int i;
    int n;
};
constexpr std::array<PRSRun, 48> kPRSRuns = {{
    {-768, 0, 1}, {-736, 1, 2}, {-704, 2, 0}, {-672, 3, 1}, {-640, 0, 3}, {-608, 1, 2},
    {-576, 2, 2}, {-544, 3, 3}, {-512, 0, 2}, {-480, 1, 1}, {-448, 2, 2}, {-416, 3, 3},
    {-384, 0, 1}, {-352, 1, 2}, {-320, 2, 3}, {-288, 3, 3}, {-256, 0, 2}, {-224, 1, 2},
    {-192, 2, 2}, {-160, 3, 1}, {-128, 0, 1}, {-96, 1, 3},  {-64, 2, 1},  {-32, 3, 2},
    {1, 0, 3},    {33, 3, 1},   {65, 2, 1},   {97, 1, 1},   {129, 0, 2},  {161, 3, 2},
    {193, 2, 1},  {225, 1, 0},  {257, 0, 2},  {289, 3, 2},  {321, 2, 3},  {353, 1, 3},
    {385, 0, 0},  {417, 3, 2},  {449, 2, 1},  {481, 1, 3},  {513, 0, 3},  {545, 3, 3},
    {577, 2, 3},  {609, 1, 0},  {641, 0, 3},  {673, 3, 0},  {705, 2, 1},  {737, 1, 1},
}};

// EN 300 401 14.3.2, time-frequency-phase parameters h(i, j), quarter turns.
constexpr std::array<std::array<std::uint8_t, 32>, 4> kPRSH = {{
    {0, 2, 0, 0, 0, 0, 1, 1, 2, 0, 0, 0, 2, 2, 1, 1, 0, 2, 0, 0, 0, 0, 1, 1, 2, 0, 0, 0, 2, 2, 1, 1},
    {0, 3, 2, 3, 0, 1, 3, 0, 2, 1, 2, 3, 2, 3, 3, 0, 0, 3, 2, 3, 0, 1, 3, 0, 2, 1, 2, 3, 2, 3, 3, 0},
    {0, 0, 0, 2, 0, 2, 1, 3, 2, 2, 0, 2, 2, 0, 1, 3, 0, 0, 0, 2, 0, 2, 1, 3, 2, 2, 0, 2, 2, 0, 1, 3},
    {0, 1, 2, 1, 0, 3, 3, 2, 2, 3, 2, 1, 2, 1, 3, 2, 0, 1, 2, 1, 0, 3, 3, 2, 2, 3, 2, 1, 2, 1, 3, 2},
}};

int carrierBin(int k) { return k > 0 ? k : DABOFDM::kFFTSize + k; }

bool holdsSymbol(std::span<const IQSample> block, int symbolStart) {
    return symbolStart >= 0 &&
           static_cast<std::size_t>(symbolStart) + DABOFDM::kSymbol <= block.size();
}

}  // namespace

struct DABOFDM::Plan {
    fftwf_plan handle = nullptr;
};

DABOFDM::DABOFDM() : plan(std::make_unique<Plan>()) {
    const std::lock_guard lock(fftwPlannerMutex());
    // The plan only fixes the size and direction; every call runs it on its own buffers.
    fftwf_complex* in = fftwf_alloc_complex(kFFTSize);
    fftwf_complex* out = fftwf_alloc_complex(kFFTSize);
    if (in != nullptr && out != nullptr) {
        plan->handle = fftwf_plan_dft_1d(kFFTSize, in, out, FFTW_FORWARD,
                                         FFTW_ESTIMATE | FFTW_UNALIGNED);
    }
    fftwf_free(in);
    fftwf_free(out);
}

DABOFDM::~DABOFDM() {
    if (plan->handle != nullptr) {
        const std::lock_guard lock(fftwPlannerMutex());
        fftwf_destroy_plan(plan->handle);
    }
}

bool DABOFDM::hasFFT() const { return plan->handle != nullptr; }

bool DABOFDM::fftSymbolInto(std::span<const IQSample> block, int symbolStart,
                            std::span<std::complex<float>> bins) const {
    assert(bins.size() >= kFFTSize);
    if (!hasFFT() || !holdsSymbol(block, symbolStart)) return false;
    std::array<std::complex<float>, kFFTSize> in;
    const IQSample* src = block.data() + symbolStart + kGuard;
    for (int n = 0; n < kFFTSize; ++n) in[static_cast<std::size_t>(n)] = {src[n].i, src[n].q};
    fftwf_execute_dft(plan->handle, reinterpret_cast<fftwf_complex*>(in.data()),
                      reinterpret_cast<fftwf_complex*>(bins.data()));
    return true;
}

bool DABOFDM::fftSymbolInto(std::span<const IQSample> block, int symbolStart, std::span<float> re,
                            std::span<float> im) const {
    assert(re.size() >= kFFTSize && im.size() >= kFFTSize);
    std::array<std::complex<float>, kFFTSize> bins;
    if (!fftSymbolInto(block, symbolStart, bins)) return false;
    for (std::size_t b = 0; b < kFFTSize; ++b) {
        re[b] = bins[b].real();
        im[b] = bins[b].imag();
    }
    return true;
}

std::optional<DABOFDM::Spectrum> DABOFDM::fftSymbol(std::span<const IQSample> block,
                                                    int symbolStart, double cfoHz,
                                                    double sampleRate) const {
    if (!hasFFT() || !holdsSymbol(block, symbolStart)) return std::nullopt;
    std::array<std::complex<float>, kFFTSize> in;
    const std::size_t first = static_cast<std::size_t>(symbolStart) + kGuard;
    const bool derotate = std::abs(cfoHz) > 0.001;
    const double step = -2.0 * std::numbers::pi * cfoHz / sampleRate;
    for (std::size_t n = 0; n < kFFTSize; ++n) {
        const IQSample x = block[first + n];
        std::complex<float> v{x.i, x.q};
        if (derotate) {
            const double phase = step * static_cast<double>(first + n);
            v *= std::complex<float>(static_cast<float>(std::cos(phase)),
                                     static_cast<float>(std::sin(phase)));
        }
        in[n] = v;
    }
    std::array<std::complex<float>, kFFTSize> out;
    fftwf_execute_dft(plan->handle, reinterpret_cast<fftwf_complex*>(in.data()),
                      reinterpret_cast<fftwf_complex*>(out.data()));
    Spectrum s{.mag = std::vector<float>(kFFTSize), .re = std::vector<float>(kFFTSize),
               .im = std::vector<float>(kFFTSize)};
    for (std::size_t b = 0; b < kFFTSize; ++b) {
        s.re[b] = out[b].real();
        s.im[b] = out[b].imag();
        s.mag[b] = std::sqrt(s.re[b] * s.re[b] + s.im[b] * s.im[b]);
    }
    return s;
}

std::vector<IQSample> DABOFDM::applyNCO(std::span<const IQSample> block, double offsetHz, double fs) {
    std::vector<IQSample> out(block.begin(), block.end());
    if (std::abs(offsetHz) <= 0.5) return out;
    const double step = -2.0 * std::numbers::pi * offsetHz / fs;
    for (std::size_t n = 0; n < out.size(); ++n) {
        // A fresh sine and cosine per sample: no phase drift over long blocks.
        const double phase = step * static_cast<double>(n);
        const double c = std::cos(phase), s = std::sin(phase);
        const double i = block[n].i, q = block[n].q;
        out[n] = {static_cast<float>(i * c - q * s), static_cast<float>(i * s + q * c)};
    }
    return out;
}

const DABOFDM::PhaseReference& DABOFDM::buildPhaseReference() {
    static const PhaseReference prs = [] {
        PhaseReference r{.re = std::vector<float>(kFFTSize, 0.0f),
                         .im = std::vector<float>(kFFTSize, 0.0f)};
        for (const PRSRun& run : kPRSRuns) {
            for (int j = 0; j < 32; ++j) {
                const int k = run.kPrime + j;
                const int quarterTurns =
                    (kPRSH[static_cast<std::size_t>(run.i)][static_cast<std::size_t>(j)] + run.n) % 4;
                // Exact values: quarter turns need no trigonometry.
                constexpr float kCos[4] = {1.0f, 0.0f, -1.0f, 0.0f};
                constexpr float kSin[4] = {0.0f, 1.0f, 0.0f, -1.0f};
                const auto bin = static_cast<std::size_t>(carrierBin(k));
                r.re[bin] = kCos[quarterTurns];
                r.im[bin] = kSin[quarterTurns];
            }
        }
        return r;
    }();
    return prs;
}

DABOFDM::PhaseRefResult DABOFDM::correlatePhaseRef(std::span<const float> measuredRe,
                                                   std::span<const float> measuredIm, int binShift) {
    PhaseRefResult result{.binShift = binShift};
    if (measuredRe.size() != kFFTSize || measuredIm.size() != kFFTSize) return result;
    const PhaseReference& ref = buildPhaseReference();
    double cRe = 0.0, cIm = 0.0, energyRef = 0.0, energyMeasured = 0.0;
    const int shift = ((binShift % kFFTSize) + kFFTSize) % kFFTSize;
    for (int k = -kHalfCarriers; k <= kHalfCarriers; ++k) {
        if (k == 0) continue;
        const int r = carrierBin(k);
        const int j = (r + shift) % kFFTSize;
        if (std::min(j, kFFTSize - j) <= kDCGuardBins) continue;
        const double mRe = measuredRe[static_cast<std::size_t>(j)];
        const double mIm = measuredIm[static_cast<std::size_t>(j)];
        const double rRe = ref.re[static_cast<std::size_t>(r)];
        const double rIm = ref.im[static_cast<std::size_t>(r)];
        // M · conj(R)
        cRe += mRe * rRe + mIm * rIm;
        cIm += mIm * rRe - mRe * rIm;
        energyRef += rRe * rRe + rIm * rIm;
        energyMeasured += mRe * mRe + mIm * mIm;
    }
    result.correlation = static_cast<float>(std::hypot(cRe, cIm) /
                                            std::sqrt(std::max(energyRef * energyMeasured, 1e-20)));
    result.detected = result.correlation > 0.25f;
    return result;
}
