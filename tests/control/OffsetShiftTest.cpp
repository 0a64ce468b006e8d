#include <gtest/gtest.h>

#include <complex>
#include <numbers>

#include "control/OffsetShift.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRate = 2'048'000.0;

TEST(OffsetShiftTest, MovesTheStationFortyKilohertzUp) {
    // A carrier at -40 kHz comes out at 0 Hz: every sample equals e^{jφ0}, over a block and
    // across the blocks that follow (each restarts from the phase the last one returned).
    // Odd block lengths leave groups of the rotator unfinished at block ends.
    const double start = 0.4;
    std::vector<IQSample> x = makeTone(-40'000.0, kRate, 3 * 8'192 + 7, 1.0f, start);
    double phase = 0.0;
    std::size_t pos = 0;
    for (std::size_t length : {8'192u, 1u, 5'003u, 11'387u}) {
        phase = shiftBy40kHz(std::span<IQSample>(x).subspan(pos, length), phase);
        pos += length;
        const double expected =
            std::remainder(double(pos) * kOffsetStepRad, 2.0 * std::numbers::pi);
        EXPECT_NEAR(phase, expected, 1e-9) << pos;
        EXPECT_LE(std::abs(phase), std::numbers::pi);
    }
    ASSERT_EQ(pos, x.size());
    double worst = 0.0;
    for (const IQSample& s : x)
        worst = std::max(worst, std::abs(std::complex<double>(s.i, s.q) - std::polar(1.0, start)));
    EXPECT_LT(worst, 2e-6);  // float rotation of a float tone
}

}  // namespace
