#include "sim/AACTxMDCT.h"

#include <fftw3.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <mutex>
#include <numbers>

#include "dsp/FFTWPlannerLock.h"

void AACTxMDCT::PlanDestroyer::operator()(fftwf_plan_s* p) const noexcept {
    std::lock_guard lock(fftwPlannerMutex());
    fftwf_destroy_plan(p);
}

AACTxMDCT::AACTxMDCT(int coefficients)
    : m(coefficients),
      window(2 * static_cast<std::size_t>(coefficients)),
      folded(static_cast<std::size_t>(coefficients)),
      result(static_cast<std::size_t>(coefficients)) {
    assert(m > 0 && m % 2 == 0);
    const double n2 = 2.0 * m;
    for (std::size_t n = 0; n < window.size(); ++n)
        window[n] =
            static_cast<float>(std::sin(std::numbers::pi / n2 * (static_cast<double>(n) + 0.5)));
    std::lock_guard lock(fftwPlannerMutex());
    // REDFT11 is the DCT-IV, Y[k] = 2 Σ x[j] cos(π/M (j + ½)(k + ½)): the factor 2 of the MDCT.
    plan.reset(fftwf_plan_r2r_1d(m, folded.data(), result.data(), FFTW_REDFT11, FFTW_ESTIMATE));
}

AACTxMDCT::~AACTxMDCT() = default;

void AACTxMDCT::transform(std::span<const float> in, std::span<float> out) {
    assert(in.size() >= 2 * static_cast<std::size_t>(m) &&
           out.size() >= static_cast<std::size_t>(m));
    const int h = m / 2;
    const auto z = [&](int n) {
        return in[static_cast<std::size_t>(n)] * window[static_cast<std::size_t>(n)];
    };
    // The shift by n0 folds the 2M windowed samples (a, b, c, d) into M: (-c_r - d, a - b_r).
    for (int j = 0; j < h; ++j)
        folded[static_cast<std::size_t>(j)] = -z(3 * h - 1 - j) - z(3 * h + j);
    for (int j = h; j < m; ++j) folded[static_cast<std::size_t>(j)] = z(j - h) - z(3 * h - 1 - j);
    fftwf_execute(plan.get());
    std::copy(result.begin(), result.end(), out.begin());
}
