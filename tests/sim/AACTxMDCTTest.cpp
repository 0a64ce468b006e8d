#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "AACTestReader.h"
#include "sim/AACTxMDCT.h"
#include "sim/SimRandom.h"

namespace {
std::vector<float> noise(std::size_t count, std::uint64_t seed) {
    SimRandom random(seed);
    std::vector<float> x(count);
    for (float& v : x) v = static_cast<float>(random.nextU32()) / 4'294'967'296.0f - 0.5f;
    return x;
}
}  // namespace

TEST(AACTxMDCTTest, MatchesTheDefiningSum) {
    for (const int m : {16, 960}) {
        SCOPED_TRACE(m);
        AACTxMDCT mdct(m);
        const std::vector<float> in = noise(2 * static_cast<std::size_t>(m), 7);
        std::vector<float> out(static_cast<std::size_t>(m));
        mdct.transform(in, out);
        const double n2 = 2.0 * m, n0 = (m + 1.0) / 2.0;
        for (int k = 0; k < m; k += (m > 100 ? 37 : 1)) {
            double want = 0.0;
            for (int n = 0; n < 2 * m; ++n)
                want += 2.0 * in[static_cast<std::size_t>(n)] *
                        std::sin(std::numbers::pi / n2 * (n + 0.5)) *
                        std::cos(2.0 * std::numbers::pi / n2 * (n + n0) * (k + 0.5));
            // float transform over 2M terms of size ~0.5
            EXPECT_NEAR(out[static_cast<std::size_t>(k)], want, 1e-3 * std::sqrt(m)) << k;
        }
    }
}

TEST(AACTxMDCTTest, DecoderOverlapAddGivesTheInputBack) {
    constexpr int kM = 960;
    AACTxMDCT mdct(kM);
    const std::vector<float> x = noise(4 * kM, 11);  // frames 0..3
    std::vector<double> out(4 * kM, 0.0);
    std::vector<float> spectrum(kM);
    for (int f = 0; f + 1 < 4; ++f) {
        mdct.transform(std::span(x).subspan(static_cast<std::size_t>(f) * kM, 2 * kM), spectrum);
        const std::vector<double> y = simtest::AACTestReader::windowedIMDCT(
            std::vector<double>(spectrum.begin(), spectrum.end()));
        for (std::size_t n = 0; n < y.size(); ++n)
            out[static_cast<std::size_t>(f) * kM + n] += y[n];
    }
    // Frames 1 and 2 have both of their halves: time-domain aliasing cancels, scale is 1.
    for (std::size_t n = kM; n < 3 * kM; ++n) ASSERT_NEAR(out[n], x[n], 1e-4) << n;
}
