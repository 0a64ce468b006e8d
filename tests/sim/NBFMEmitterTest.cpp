#include "sim/NBFMEmitter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "SimTestMath.h"

using namespace simtest;

namespace {
// A test audio source: a sine at toneHz with the given amplitude, continuous across calls.
NBFMAudioSource sineSource(double toneHz, double amplitude, double* seenRateHz = nullptr) {
    auto phase = std::make_shared<double>(0.0);
    return [=](std::span<float> audio, double rateHz) {
        if (seenRateHz) *seenRateHz = rateHz;
        for (float& v : audio) {
            v = static_cast<float>(amplitude * std::sin(*phase));
            *phase += 2.0 * std::numbers::pi * toneHz / rateHz;
        }
    };
}
}  // namespace

TEST(NBFMEmitterTest, AudioDeviatesByItsShareOfFiveKilohertz) {
    struct Case {
        double amplitude;
        double expectedHz;  // amplitude × 5 kHz
    };
    for (const Case c : {Case{1.0, 5'000.0}, Case{0.4, 2'000.0}}) {
        SCOPED_TRACE(c.amplitude);
        NBFMEmitter emitter({});
        double rate = 0.0;
        emitter.setAudioSource(sineSource(1'000.0, c.amplitude, &rate));
        const auto iq = render(emitter, 8'192 + 204'801, 15'000.0);
        auto f = discriminate(std::span(iq).subspan(8'192));
        for (double& v : f) v -= 15'000.0;
        EXPECT_EQ(rate, 51'200.0);
        EXPECT_NEAR(std::abs(toneOf(f, 1'000.0)), c.expectedHz, 0.001 * c.expectedHz);
    }
}

TEST(NBFMEmitterTest, IdleCarrierIsUnmodulatedAndUnkeyingRampsItDown) {
    NBFMEmitter emitter({.amplitude = 0.02});
    const auto idle = render(emitter, 4'096, 0.0);
    EXPECT_NEAR(totalPower(idle), 0.0004, 1e-8);
    EXPECT_NEAR(std::abs(complexToneOf(idle, 0.0)), 0.02, 1e-6);

    emitter.setKeyed(false);
    // The 1 ms ramp is 2,048 samples; after it the transmitter is silent.
    const auto ramp = render(emitter, 4'096, 0.0, 4'096);
    EXPECT_GT(std::hypot(ramp[100].i, ramp[100].q), 0.015);
    EXPECT_LT(std::hypot(ramp[1'000].i, ramp[1'000].q), 0.0125);
    EXPECT_EQ(totalPower(std::span(ramp).subspan(2'100)), 0.0);

    emitter.setKeyed(true);
    const auto keyed = render(emitter, 4'096, 0.0, 8'192);
    EXPECT_NEAR(std::hypot(keyed.back().i, keyed.back().q), 0.02, 1e-6);
}

TEST(NBFMEmitterTest, SpectrumHasNoInterpolationImages) {
    NBFMEmitter emitter({.amplitude = 0.1});
    emitter.setAudioSource(sineSource(2'200.0, 1.0));
    const auto iq = render(emitter, 8'192 + 65'536, 0.0);
    const std::span<const IQSample> window(iq.data() + 8'192, 65'536);
    const auto p = powerSpectrum(window);
    const double total = totalPower(window);
    double worst = 0.0;
    // Audio images would sit at 51.2 kHz ± 5 kHz and its multiples.
    for (std::size_t k = 0; k < p.size(); ++k)
        if (std::abs(binHz(k, p.size())) > 40'000.0) worst = std::max(worst, p[k]);
    EXPECT_LT(dB(worst / total), -80.0);
}

TEST(NBFMEmitterTest, OutputDoesNotDependOnChunking) {
    auto make = [] {
        auto e = std::make_shared<NBFMEmitter>(NBFMEmitterConfig{});
        e->setAudioSource(sineSource(1'200.0, 0.8));
        return e;
    };
    const std::size_t whole[] = {65'536};
    const std::size_t ragged[] = {5, 2'560, 777, 8'192};
    EXPECT_EQ(renderChunked(make, 65'536, ragged, -7'000.0), renderChunked(make, 65'536, whole, -7'000.0));
}
