#include "sim/SimFMModulator.h"

#include <algorithm>
#include <cassert>
#include <cmath>

SimFMModulator::SimFMModulator(std::size_t maxBlock) : stepRe(maxBlock), stepIm(maxBlock) {}

namespace {
// e^{jx} by Taylor series in float: for |x| <= 0.5 rad (160 kHz at 2,048,000 samples/s) the
// truncation stays below 1e-9; float rounding (~6e-8 per step) is removed by renormalising.
// count must be a multiple of 8; the mask tells the compiler so, and it emits vector code.
void rotationsFor(const float* __restrict f, float* __restrict re, float* __restrict im,
                  std::size_t count, float scale) {
    count &= ~std::size_t{7};
    for (std::size_t n = 0; n < count; ++n) {
        const float x = scale * f[n];
        const float x2 = x * x;
        re[n] = 1.0f + x2 * (-1.0f / 2 + x2 * (1.0f / 24 + x2 * (-1.0f / 720 + x2 * (1.0f / 40320))));
        im[n] = x * (1.0f + x2 * (-1.0f / 6 +
                                  x2 * (1.0f / 120 + x2 * (-1.0f / 5040 + x2 * (1.0f / 362880)))));
    }
}
}  // namespace

void SimFMModulator::prepare(std::span<const float> frequency, double radiansPerUnit) {
    assert(frequency.size() % 8 == 0 && frequency.size() <= stepRe.size());
    rotationsFor(frequency.data(), stepRe.data(), stepIm.data(), frequency.size(),
                 static_cast<float>(radiansPerUnit));
    prepared = frequency.size();
}

void SimFMModulator::modulate(std::span<IQSample> out, std::size_t first,
                              std::complex<double> offsetStep, Envelope& envelope) {
    assert(first + out.size() <= prepared);
    const double oRe = offsetStep.real(), oIm = offsetStep.imag();
    double pRe = phasor.real(), pIm = phasor.imag();
    double level = envelope.level;
    const bool isSlewing = envelope.slewPerSample > 0.0 && level != envelope.target;
    std::size_t n = 0;
    while (n < out.size()) {
        // Runs end at renormalisation points, so the inner loop has no branches.
        const std::size_t run = std::min(out.size() - n,
                                         static_cast<std::size_t>(kRenormaliseInterval - sinceRenormalise));
        const float* sr = stepRe.data() + first + n;
        const float* si = stepIm.data() + first + n;
        IQSample* o = out.data() + n;
        for (std::size_t k = 0; k < run; ++k) {
            const double sRe = sr[k], sIm = si[k];
            // The rotation for this sample is formed off the phasor's dependency chain.
            const double wRe = sRe * oRe - sIm * oIm, wIm = sRe * oIm + sIm * oRe;
            const double re = pRe * wRe - pIm * wIm;
            pIm = pRe * wIm + pIm * wRe;
            pRe = re;
            if (isSlewing)
                level = level < envelope.target
                            ? std::min(envelope.target, level + envelope.slewPerSample)
                            : std::max(envelope.target, level - envelope.slewPerSample);
            o[k].i += static_cast<float>(level * pRe);
            o[k].q += static_cast<float>(level * pIm);
        }
        n += run;
        sinceRenormalise += static_cast<std::uint32_t>(run);
        if (sinceRenormalise == kRenormaliseInterval) {
            const double m = 1.0 / std::sqrt(pRe * pRe + pIm * pIm);
            pRe *= m;
            pIm *= m;
            sinceRenormalise = 0;
        }
    }
    phasor = {pRe, pIm};
    envelope.level = level;
}
