#include "rds/RDSChannelFilter.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/FIRTaps.h"

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPilotHz = 19'000.0;
constexpr double kTargetOutputRateHz = 32'000.0;  // ~27 samples per RDS bit
constexpr double kRDSPassHz = 2'400.0;            // the biphase spectrum ends at 2375 Hz
constexpr double kRDSStopHz = 4'000.0;
constexpr double kPilotPassHz = 200.0;
constexpr double kPilotStopHz = 1'500.0;  // the pilot rate is ~2 kHz: keeps +-500 Hz clean
// Stage 1 must keep out what would fold onto +-kRDSStopHz: full-scale mono audio is 33 dB
// above RDS at 2 % injection, and its fold-back has to end up far below that RDS signal.
constexpr double kStage1AttenuationDB = 80.0;
constexpr double kStage2AttenuationDB = 70.0;
// Dot products run in 8 lanes summed in a fixed order, so the result does not depend on the
// alignment of the window (nor, then, on how the input was cut).
constexpr std::size_t kLanes = 8;
// Full scale is 0.08 at the discriminator; this leaves room and keeps sums finite.
constexpr float kMaxInput = 1000.0f;

double hzToRadiansPerSample(double hz, double sampleRateHz) {
    return kTwoPi * hz / sampleRateHz;
}

double wrapPhase(double rad) {
    return std::remainder(rad, kTwoPi);
}

std::size_t paddedLength(std::size_t n) {
    return (n + kLanes - 1) / kLanes * kLanes;
}

// Taps reversed for a forward dot product over an oldest-first window, zero-padded at the
// old end: window[len - 1 - k] meets taps[k].
std::vector<float> layOut(const std::vector<float>& taps) {
    std::vector<float> out(paddedLength(taps.size()), 0.0f);
    std::copy(taps.rbegin(), taps.rend(), out.end() - static_cast<std::ptrdiff_t>(taps.size()));
    return out;
}

// Low-pass taps h made a band-pass around `carrierRad` per sample: g[k] = h[k] e^{jw(k - c)},
// c the centre. e^{-jw(n - c)} sum g[k] x[n - k] is exactly the low-pass of x[m] e^{-jwm} at
// n, so mixing costs one rotation per kept output instead of one per input sample.
void layOutBandPass(const std::vector<float>& h, double carrierRad, std::vector<float>& re,
                    std::vector<float>& im) {
    std::vector<float> r(h.size()), i(h.size());
    const double centre = static_cast<double>(h.size() - 1) / 2.0;
    for (std::size_t k = 0; k < h.size(); ++k) {
        const double phase = carrierRad * (static_cast<double>(k) - centre);
        r[k] = static_cast<float>(h[k] * std::cos(phase));
        i[k] = static_cast<float>(h[k] * std::sin(phase));
    }
    re = layOut(r);
    im = layOut(i);
}

// Four floats in one SIMD register (GCC and Clang vector extension).
typedef float Float4 __attribute__((vector_size(16)));

Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

float sum(Float4 low, Float4 high) {
    const Float4 s = low + high;
    return (s[0] + s[1]) + (s[2] + s[3]);
}

struct Stage1Sums {
    float rdsRe, rdsIm, pilotRe, pilotIm;
};

// Four tap sets over one real window of n (a multiple of kLanes) values.
Stage1Sums dotStage1(const float* x, const float* rdsRe, const float* rdsIm, const float* pilotRe,
                     const float* pilotIm, std::size_t n) {
    Float4 acc[8] = {};
    for (std::size_t j = 0; j < n; j += kLanes) {
        const Float4 x0 = load4(x + j), x1 = load4(x + j + 4);
        acc[0] += load4(rdsRe + j) * x0;
        acc[1] += load4(rdsRe + j + 4) * x1;
        acc[2] += load4(rdsIm + j) * x0;
        acc[3] += load4(rdsIm + j + 4) * x1;
        acc[4] += load4(pilotRe + j) * x0;
        acc[5] += load4(pilotRe + j + 4) * x1;
        acc[6] += load4(pilotIm + j) * x0;
        acc[7] += load4(pilotIm + j + 4) * x1;
    }
    return {sum(acc[0], acc[1]), sum(acc[2], acc[3]), sum(acc[4], acc[5]), sum(acc[6], acc[7])};
}

// Complex values held in two arrays through one real tap set.
std::complex<float> dotComplex(const float* re, const float* im, const float* taps, std::size_t n) {
    Float4 acc[4] = {};
    for (std::size_t j = 0; j < n; j += kLanes) {
        const Float4 t0 = load4(taps + j), t1 = load4(taps + j + 4);
        acc[0] += t0 * load4(re + j);
        acc[1] += t1 * load4(re + j + 4);
        acc[2] += t0 * load4(im + j);
        acc[3] += t1 * load4(im + j + 4);
    }
    return {sum(acc[0], acc[1]), sum(acc[2], acc[3])};
}

int decimationFor(double inputRateHz) {
    return std::max(1, static_cast<int>(std::lround(inputRateHz / kTargetOutputRateHz)));
}

}  // namespace

RDSChannelFilter::RDSChannelFilter(double inputRateHz)
    : factor(decimationFor(inputRateHz)),
      outputRate(inputRateHz / factor),
      mixStepRad(wrapPhase(hzToRadiansPerSample(kPilotHz, inputRateHz) * factor)) {
    assert(inputRateHz >= 128'000.0);
    const std::vector<float> h1 = FIRTaps::kaiserLowpass({.sampleRateHz = inputRateHz,
                                                          .passbandHz = kRDSPassHz,
                                                          .stopbandHz = outputRate - kRDSStopHz,
                                                          .attenuationDB = kStage1AttenuationDB});
    const double pilotRad = hzToRadiansPerSample(kPilotHz, inputRateHz);
    layOutBandPass(h1, pilotRad, pilotTapsRe, pilotTapsIm);
    layOutBandPass(h1, 3.0 * pilotRad, rdsTapsRe, rdsTapsIm);
    const std::vector<float> rds2 = FIRTaps::kaiserLowpass({.sampleRateHz = outputRate,
                                                            .passbandHz = kRDSPassHz,
                                                            .stopbandHz = kRDSStopHz,
                                                            .attenuationDB = kStage2AttenuationDB});
    const std::vector<float> pilot2 =
        FIRTaps::kaiserLowpass({.sampleRateHz = outputRate,
                                .passbandHz = kPilotPassHz,
                                .stopbandHz = kPilotStopHz,
                                .attenuationDB = kStage2AttenuationDB});
    rdsTaps2 = layOut(rds2);
    pilotTaps2 = layOut(pilot2);
    pilotLag =
        static_cast<double>(pilot2.size() - 1) / 2.0 - static_cast<double>(rds2.size() - 1) / 2.0;
    // Output 0 is centred on input sample decimation - 1 - (h1 length - 1) / 2.
    mixStartRad = wrapPhase(
        pilotRad * (static_cast<double>(factor - 1) - static_cast<double>(h1.size() - 1) / 2.0));
    line.assign(rdsTapsRe.size() - 1 + kPieceSamples, 0.0f);
    rdsRingI.assign(2 * rdsTaps2.size(), 0.0f);
    rdsRingQ.assign(2 * rdsTaps2.size(), 0.0f);
    pilotRingI.assign(2 * pilotTaps2.size(), 0.0f);
    pilotRingQ.assign(2 * pilotTaps2.size(), 0.0f);
    reset();
}

void RDSChannelFilter::reset() {
    std::fill(line.begin(), line.end(), 0.0f);
    for (auto* ring : {&rdsRingI, &rdsRingQ, &pilotRingI, &pilotRingQ})
        std::fill(ring->begin(), ring->end(), 0.0f);
    rdsRingPos = pilotRingPos = 0;
    toNextOutput = factor;
    toNextPilot = kPilotDecimation;
    mixPhaseRad = mixStartRad;
}

std::size_t RDSChannelFilter::outputCount(std::size_t inputCount) const {
    const auto f = static_cast<std::size_t>(factor);
    const auto first = static_cast<std::size_t>(toNextOutput);
    return inputCount < first ? 0 : 1 + (inputCount - first) / f;
}

std::size_t RDSChannelFilter::process(std::span<const float> in, std::span<RDSChannelSample> out) {
    assert(out.size() >= outputCount(in.size()));
    RDSChannelSample* next = out.data();
    for (std::size_t pos = 0; pos < in.size(); pos += kPieceSamples) {
        processPiece(in.data() + pos, std::min(kPieceSamples, in.size() - pos), next);
    }
    return static_cast<std::size_t>(next - out.data());
}

void RDSChannelFilter::processPiece(const float* in, std::size_t n, RDSChannelSample*& out) {
    const std::size_t history = rdsTapsRe.size() - 1;
    // A corrupt sample (non-finite, or far beyond any multiplex) would poison the loops'
    // state for good; it counts as 0 or is limited instead.
    for (std::size_t i = 0; i < n; ++i) {
        const float v = in[i];
        // NaN fails every comparison
        line[history + i] = std::fabs(v) <= kMaxInput ? v
                            : v > 0.0f                ? kMaxInput
                            : v < 0.0f                ? -kMaxInput
                                                      : 0.0f;
    }
    // Sample i of the piece is line[history + i]; a window ending there starts at line[i].
    std::size_t i = static_cast<std::size_t>(toNextOutput) - 1;
    for (; i < n; i += static_cast<std::size_t>(factor)) *out++ = filterAt(line.data() + i);
    toNextOutput = static_cast<int>(i - n) + 1;
    std::copy(line.begin() + static_cast<std::ptrdiff_t>(n),
              line.begin() + static_cast<std::ptrdiff_t>(n + history), line.begin());
}

RDSChannelSample RDSChannelFilter::filterAt(const float* window) {
    const Stage1Sums sums = dotStage1(window, rdsTapsRe.data(), rdsTapsIm.data(),
                                      pilotTapsRe.data(), pilotTapsIm.data(), rdsTapsRe.size());
    // from here on: the output rate
    const auto mixRad = static_cast<float>(mixPhaseRad);
    const std::complex<float> pilotMix(std::cos(mixRad), -std::sin(mixRad));
    const std::complex<float> rdsMix = pilotMix * pilotMix * pilotMix;
    // The step is within +-pi, so one turn brings the phase back into [-pi, pi).
    mixPhaseRad += mixStepRad;
    if (mixPhaseRad >= std::numbers::pi) mixPhaseRad -= kTwoPi;
    if (mixPhaseRad < -std::numbers::pi) mixPhaseRad += kTwoPi;
    const std::complex<float> rds1 = std::complex<float>(sums.rdsRe, sums.rdsIm) * rdsMix;
    const std::complex<float> pilot1 = std::complex<float>(sums.pilotRe, sums.pilotIm) * pilotMix;

    RDSChannelSample s;
    const std::size_t n2 = rdsTaps2.size();
    rdsRingI[rdsRingPos] = rdsRingI[rdsRingPos + n2] = rds1.real();
    rdsRingQ[rdsRingPos] = rdsRingQ[rdsRingPos + n2] = rds1.imag();
    rdsRingPos = rdsRingPos + 1 == n2 ? 0 : rdsRingPos + 1;
    // Oldest first: the window starts just after the newest value.
    s.rds = dotComplex(&rdsRingI[rdsRingPos], &rdsRingQ[rdsRingPos], rdsTaps2.data(), n2);

    const std::size_t np = pilotTaps2.size();
    pilotRingI[pilotRingPos] = pilotRingI[pilotRingPos + np] = pilot1.real();
    pilotRingQ[pilotRingPos] = pilotRingQ[pilotRingPos + np] = pilot1.imag();
    pilotRingPos = pilotRingPos + 1 == np ? 0 : pilotRingPos + 1;
    if (--toNextPilot == 0) {
        toNextPilot = kPilotDecimation;
        s.pilot =
            dotComplex(&pilotRingI[pilotRingPos], &pilotRingQ[pilotRingPos], pilotTaps2.data(), np);
        s.hasPilot = true;
    }
    return s;
}
