#pragma once

#include <cmath>

// Kaiser-window helpers shared by the simulated world's interpolators.
namespace simkaiser {

// Zeroth-order modified Bessel function of the first kind, by its power series.
inline double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 60 && term > 1e-15 * sum; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

// Kaiser's empirical window shape for a stopband attenuation.
inline double beta(double attenuationDB) {
    if (attenuationDB > 50.0) return 0.1102 * (attenuationDB - 8.7);
    if (attenuationDB > 21.0) return 0.5842 * std::pow(attenuationDB - 21.0, 0.4) + 0.07886 * (attenuationDB - 21.0);
    return 0.0;
}

}  // namespace simkaiser
