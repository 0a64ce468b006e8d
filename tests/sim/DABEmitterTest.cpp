#include "sim/DABEmitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "SimTestMath.h"
#include "sim/DemoScene.h"
#include "sim/SimUnits.h"
#include "sim/VirtualRtlSdr.h"

using namespace simtest;

namespace {
constexpr int kFrame = 196'608;
constexpr int kNull = 2'656;

DABEmitterConfig config(std::optional<DABEcho> echo = std::nullopt) {
    const DemoDABEnsemble e = demoDABEnsembles()[1];
    return {.carrierHz = e.frequencyHz, .amplitude = 0.1, .ensemble = e.ensemble, .echo = echo};
}

std::vector<IQSample> renderEmitter(DABEmitterConfig c, std::size_t count, double offsetHz,
                                    double clockErrorPPM, std::uint64_t index = 0) {
    DABEmitter emitter(c);
    std::vector<IQSample> out(count);
    emitter.render(out, {.offsetHz = offsetHz, .sampleIndex = index, .clockErrorPPM = clockErrorPPM});
    return out;
}

std::complex<double> at(const std::vector<IQSample>& v, std::size_t n) { return {v[n].i, v[n].q}; }

// Start of the null symbol nearest `guess`: the earliest 2656-sample window of least energy.
// The interpolator leaves rounding residue of about 1e-19 in the null, so energies within
// 1e-15 of each other count as a tie.
std::size_t findNull(const std::vector<IQSample>& v, std::size_t guess, std::size_t span) {
    double best = 1e300;
    std::size_t bestAt = 0;
    for (std::size_t s = guess - span; s <= guess + span; ++s) {
        double e = 0.0;
        for (std::size_t t = 0; t < kNull; t += 4) e += std::norm(at(v, s + t));
        if (e < best - 1e-15) { best = e; bestAt = s; }
    }
    return bestAt;
}
}  // namespace

// Without clock error, echo or offset the emitter reproduces the transmitter's samples exactly.
TEST(DABEmitterTest, IdealChannelPassesTransmitterFramesUnchanged) {
    const auto out = renderEmitter(config(), 2 * kFrame, 0.0, 0.0);
    DABTransmitter tx({.ensemble = config().ensemble, .amplitude = 0.1});
    std::vector<std::complex<float>> frames(3 * kFrame);
    for (int f = -1; f < 2; ++f) tx.renderFrame(f, std::span(frames).subspan(static_cast<std::size_t>(f + 1) * kFrame, kFrame));
    for (std::size_t n = 0; n < out.size(); n += 97) {
        ASSERT_NEAR(out[n].i, frames[kFrame + n].real(), 1e-6) << n;
        ASSERT_NEAR(out[n].q, frames[kFrame + n].imag(), 1e-6) << n;
    }
    double nullEnergy = 0.0;
    for (std::size_t n = 0; n < kNull; ++n) nullEnergy += std::norm(at(out, n));
    EXPECT_LT(nullEnergy, 1e-20) << "silent up to the sinc's rounding at whole-sample positions";
}

// A fast dongle clock (+50 ppm) takes more samples per 96 ms frame: after 10 frames the null
// symbol has moved 98 samples later than on an exact clock.
TEST(DABEmitterTest, ClockErrorStretchesTheFrameTiming) {
    constexpr double kPPM = 50.0;
    const auto out = renderEmitter(config(), 11 * kFrame + 4'000, 0.0, kPPM);
    const std::size_t first = findNull(out, kFrame, 30);
    const std::size_t last = findNull(out, 11 * kFrame, 200);
    // The window search has a sample or two of play at the interpolated symbol edges.
    EXPECT_NEAR(first, kFrame * (1 + kPPM * 1e-6), 3.0);
    EXPECT_NEAR(static_cast<double>(last - first), 10.0 * kFrame * (1 + kPPM * 1e-6), 2.0);
}

// The echo is the direct signal delayed by 3.5 µs (7.17 samples), 8 dB down, rotated by its phase.
TEST(DABEmitterTest, EchoAddsADelayedAttenuatedCopy) {
    const DABEcho echo{.delayUs = 3.5, .levelDB = -8.0, .phaseRad = 2.1};
    const auto direct = renderEmitter(config(), kFrame, 0.0, 0.0);
    const auto both = renderEmitter(config(echo), kFrame, 0.0, 0.0);
    std::vector<std::complex<double>> reflected(direct.size());
    for (std::size_t n = 0; n < direct.size(); ++n) reflected[n] = at(both, n) - at(direct, n);
    double pr = 0.0, pd = 0.0;
    for (std::size_t n = 0; n < direct.size(); ++n) {
        pr += std::norm(reflected[n]);
        pd += std::norm(at(direct, n));
    }
    EXPECT_NEAR(dB(pr / pd), -8.0, 0.1);
    // Correlating with the direct path at lags 7 and 8 brackets the 7.17-sample delay; the peak
    // is at 7 and its phase is the echo's.
    std::complex<double> c7, c8, c0;
    for (std::size_t n = 8; n < direct.size(); ++n) {
        c7 += reflected[n] * std::conj(at(direct, n - 7));
        c8 += reflected[n] * std::conj(at(direct, n - 8));
        c0 += reflected[n] * std::conj(at(direct, n));
    }
    EXPECT_GT(std::abs(c7), std::abs(c8));
    EXPECT_GT(std::abs(c7), 5.0 * std::abs(c0));
    EXPECT_NEAR(std::remainder(std::arg(c7) - echo.phaseRad, 2 * std::numbers::pi), 0.0, 0.2);
}

// The offset is a pure frequency shift applied after the channel.
TEST(DABEmitterTest, OffsetShiftsTheSignalInFrequency) {
    constexpr double kOffsetHz = -4'547.0;
    const auto base = renderEmitter(config(DABEcho{}), 50'000, 0.0, 20.0);
    const auto shifted = renderEmitter(config(DABEcho{}), 50'000, kOffsetHz, 20.0);
    const double w = hzToRadiansPerSample(kOffsetHz, kRate);
    for (std::size_t n = 0; n < base.size(); n += 13) {
        const auto expected = at(base, n) * std::polar(1.0, w * static_cast<double>(n));
        ASSERT_LT(std::abs(at(shifted, n) - expected), 1e-5) << n;
    }
}

TEST(DABEmitterTest, OutputDoesNotDependOnChunking) {
    const std::size_t total = 300'000;
    const std::size_t chunks[] = {1, 4'095, 65'536, 17, 100'000};
    const auto make = [] { return std::make_shared<DABEmitter>(config(DABEcho{})); };
    const auto whole = renderChunked(make, total, std::span<const std::size_t>(chunks).last(1), 1'234.0);
    const auto pieces = renderChunked(make, total, chunks, 1'234.0);
    for (std::size_t n = 0; n < total; ++n) {
        ASSERT_NEAR(whole[n].i, pieces[n].i, 1e-6) << n;
        ASSERT_NEAR(whole[n].q, pieces[n].q, 1e-6) << n;
    }
}

// After a jump in time (the dongle was tuned elsewhere) frames stay on the absolute grid.
TEST(DABEmitterTest, JumpAheadKeepsTheFrameGrid) {
    DABEmitter emitter(config());
    std::vector<IQSample> block(1'000);
    emitter.render(block, {.sampleIndex = 0});
    std::vector<IQSample> later(kFrame);
    const std::uint64_t start = 1'000ull * kFrame + 50'000;
    emitter.render(later, {.sampleIndex = start});
    EXPECT_NEAR(static_cast<double>(findNull(later, kFrame - 50'000, 200)), kFrame - 50'000.0, 1.0);
}

// At the reference gain and at the 32.8 dB the DAB receiver asks for, 12C stays well inside the
// 8-bit range yet many LSBs above the quantisation step.
TEST(DABEmitterTest, DemoLevelSuitsTheDongleAtReferenceAndDABGain) {
    for (int gainTenths : {229, 320}) {
        SCOPED_TRACE(gainTenths);
        VirtualRtlSdr dongle(makeDemoScene(), {.speed = 0.0});
        RtlSdrApi::Handle h = nullptr;
        ASSERT_EQ(dongle.open(&h, 0), 0);
        dongle.setCenterFreq(h, static_cast<std::uint32_t>(kDemoDAB12CFrequencyHz));
        dongle.setTunerGainMode(h, 1);
        dongle.setTunerGain(h, gainTenths);
        std::vector<unsigned char> bytes(2 * 262'144);
        dongle.renderBuffer(bytes);
        std::size_t clipped = 0;
        double power = 0.0;
        for (unsigned char b : bytes) {
            clipped += b == 0 || b == 255;
            power += (b - 127.5) * (b - 127.5);
        }
        const double rmsLSB = std::sqrt(power / static_cast<double>(bytes.size()));
        EXPECT_LT(static_cast<double>(clipped) / static_cast<double>(bytes.size()), 1e-4);
        EXPECT_GT(rmsLSB, 5.0);
        EXPECT_LT(rmsLSB, 32.0);
    }
}
