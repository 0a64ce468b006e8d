#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <numbers>
#include <set>

#include "sim/ADSBAircraftEmitter.h"

// The simulated sky on its own, without the receiver's decoder (ADSBPeerDecoderTest checks it
// with an independent one).
namespace {

constexpr double kRate = 2'048'000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::uint32_t bitsAt(const ADSBFrameBytes& frame, int first, int count) {
    std::uint32_t v = 0;
    for (int k = first; k < first + count; ++k) {
        v = (v << 1) | ((frame[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1u);
    }
    return v;
}

double magnitude(const IQSample& s) {
    return std::hypot(s.i, s.q);
}

ADSBAircraftEmitter quietSky(std::uint64_t seed, int aircraft) {
    ADSBEmitterConfig config = ADSBAircraftEmitter::busySkyConfig(seed, aircraft);
    config.noiseSigma = 0.0f;
    return ADSBAircraftEmitter(config);
}

}  // namespace

TEST(ADSBAircraftEmitterTest, RenderAndGroundTruthDoNotDependOnBlockSizes) {
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(3, 40));
    const std::uint64_t origin = 3 * 2'048'000 + 17;
    std::vector<IQSample> whole(300'000);
    emitter.render(whole, origin);
    std::vector<IQSample> pieces(whole.size(), IQSample{0.5f, -0.25f});
    std::vector<ADSBScheduledFrame> listed;
    for (std::size_t pos = 0, block = 1; pos < pieces.size(); pos += block, block = block * 3 + 1) {
        const std::size_t n = std::min(block, pieces.size() - pos);
        emitter.render(std::span(pieces).subspan(pos, n), origin + pos);
        const auto slice = emitter.framesBetween(static_cast<double>(origin + pos),
                                                 static_cast<double>(origin + pos + n));
        listed.insert(listed.end(), slice.begin(), slice.end());
    }
    // The same terms summed; only the rounding of start minus block origin differs.
    for (std::size_t n = 0; n < whole.size(); ++n) {
        ASSERT_NEAR(pieces[n].i - 0.5f, whole[n].i, 1e-6f) << n;
        ASSERT_NEAR(pieces[n].q + 0.25f, whole[n].q, 1e-6f) << n;
    }
    const auto all = emitter.framesBetween(static_cast<double>(origin),
                                           static_cast<double>(origin + whole.size()));
    ASSERT_GT(all.size(), 40u);  // about 430 replies a second
    ASSERT_EQ(listed.size(), all.size());
    for (std::size_t n = 0; n < all.size(); ++n) {
        EXPECT_EQ(listed[n].startSample, all[n].startSample);
        EXPECT_EQ(listed[n].bytes, all[n].bytes);
        EXPECT_EQ(listed[n].isOverlapped, all[n].isOverlapped) << n;
    }
}

TEST(ADSBAircraftEmitterTest, RepliesAreValidAndComeAtTheirRates) {
    // 24 aircraft (three without ADS-B out) for 20 s. Squitters at DO-260 and Annex 10 rates,
    // interrogation replies at the configured ones, split 40/10/35/15 between DF4/5/20/21.
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(8, 24));
    const std::vector<ADSBFlight>& flights = emitter.config().flights;
    std::map<ADSBReplyKind, int> count;
    std::map<std::size_t, std::uint32_t> lastFormat;
    int positions = 0, alternations = 0;
    for (const ADSBScheduledFrame& f : emitter.framesBetween(0.0, 20.0 * kRate)) {
        const ADSBFlight& flight = flights[f.flight];
        const int df = f.bytes[0] >> 3;
        ASSERT_EQ(f.bitCount, ADSBEncoder::bitCountOf(f.bytes));
        const std::uint32_t parity = ADSBEncoder::parity(f.bytes, f.bitCount);
        const std::uint32_t tail = bitsAt(f.bytes, f.bitCount - 24, 24);
        // DF17 and DF11 (interrogator 0) carry the address and plain parity, the others the
        // address over the parity.
        if (df == 17 || df == 11) {
            ASSERT_EQ(bitsAt(f.bytes, 8, 24), flight.icao);
            ASSERT_EQ(parity, tail);
        } else {
            ASSERT_EQ(parity ^ tail, flight.icao);
        }
        ASSERT_TRUE(flight.hasExtendedSquitter || df != 17);
        ASSERT_LE(std::fabs(20.0 * std::log10(f.amplitude / flight.amplitude)), 1.0 + 1e-4);
        ++count[f.kind];
        if (f.kind != ADSBReplyKind::position) continue;
        const std::uint32_t format = bitsAt(f.bytes, 53, 1);
        if (lastFormat.contains(f.flight)) {
            ++positions;
            alternations += format != lastFormat[f.flight];
        }
        lastFormat[f.flight] = format;
    }
    const double es = 21 * 20.0, all = 24 * 20.0;  // aircraft-seconds
    const std::pair<ADSBReplyKind, double> expected[] = {
        {ADSBReplyKind::identification, 0.2 * es},
        {ADSBReplyKind::position, 2.0 * es},
        {ADSBReplyKind::velocity, 2.0 * es},
        {ADSBReplyKind::acquisitionSquitter, 1.0 * all},
        {ADSBReplyKind::allCallReply, 1.5 * all},
        {ADSBReplyKind::altitudeReply, 1.6 * all},
        {ADSBReplyKind::identityReply, 0.4 * all},
        {ADSBReplyKind::commBAltitudeReply, 1.4 * all},
        {ADSBReplyKind::commBIdentityReply, 0.6 * all}};
    for (const auto& [kind, frames] : expected) {
        // 15 %: the random splits draw a few hundred times (Poisson spread under 10 %).
        EXPECT_NEAR(count[kind], frames, 0.15 * frames) << static_cast<int>(kind);
    }
    EXPECT_GT(alternations, 0.98 * positions)
        << "even and odd CPR alternate, save where a reply displaced one";
}

TEST(ADSBAircraftEmitterTest, AircraftOverlapButNoTransponderOverlapsItself) {
    // 60 aircraft send about 650 replies a second; a few percent of them overlap another, and
    // the flag says exactly which (on the air within 1 µs). Starts within a sample and carrier
    // phases are uniform: 10 and 8 bins over 6,000 replies stay within 15 % of the mean.
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(4, 60));
    const auto frames = emitter.framesBetween(0.0, 10.0 * kRate);
    const double guard = 1e-6 * kRate;
    const auto end = [&](const ADSBScheduledFrame& f) {
        return f.startSample + emitter.durationSamples(f.bitCount);
    };
    std::map<std::size_t, const ADSBScheduledFrame*> previous;
    std::vector<int> fraction(10, 0), phase(8, 0);
    int overlapped = 0;
    for (const ADSBScheduledFrame& f : frames) {
        if (previous.contains(f.flight)) {
            ASSERT_GE(f.startSample, end(*previous[f.flight])) << f.flight;
        }
        previous[f.flight] = &f;
        const bool expected =
            std::any_of(frames.begin(), frames.end(), [&](const ADSBScheduledFrame& g) {
                return &g != &f && g.startSample - guard < end(f) && f.startSample < end(g) + guard;
            });
        ASSERT_EQ(f.isOverlapped, expected) << f.startSample;
        overlapped += f.isOverlapped;
        ++fraction[static_cast<std::size_t>((f.startSample - std::floor(f.startSample)) * 10.0)];
        ++phase[static_cast<std::size_t>(f.carrierPhaseRad / kTwoPi * 8.0)];
    }
    const double n = static_cast<double>(frames.size());
    EXPECT_GT(overlapped, 0.02 * n);
    EXPECT_LT(overlapped, 0.3 * n);
    for (int c : fraction) EXPECT_NEAR(c, n / 10.0, 0.15 * n / 10.0);
    for (int c : phase) EXPECT_NEAR(c, n / 8.0, 0.15 * n / 8.0);
}

TEST(ADSBAircraftEmitterTest, SignalIsExactlyItsGroundTruth) {
    // Without noise: each reply alone on the air has its first pulse where and as strong as
    // listed, and every sample out of reach of all listed replies is silent.
    const ADSBAircraftEmitter emitter = quietSky(5, 30);
    std::vector<IQSample> iq(2 * 2'048'000);
    emitter.render(iq, 0);
    const double last = static_cast<double>(iq.size()) - emitter.durationSamples(112) - 20.0;
    const auto frames = emitter.framesBetween(0.0, last);
    constexpr double kReach = 10.0;  // the filter's 4.7 µs either side
    const auto from = [&](std::size_t n) { return frames[n].startSample - kReach; };
    const auto to = [&](std::size_t n) {
        return frames[n].startSample + emitter.durationSamples(frames[n].bitCount) + kReach;
    };
    std::vector<bool> reached(iq.size(), false);
    int alone = 0;
    for (std::size_t n = 0; n < frames.size(); ++n) {
        for (double s = std::max(0.0, std::ceil(from(n))); s <= to(n); s += 1.0)
            reached[static_cast<std::size_t>(s)] = true;
        if (frames[n].startSample < 20.0 || (n > 0 && to(n - 1) >= from(n)) ||
            (n + 1 < frames.size() && to(n) >= from(n + 1)))
            continue;
        ++alone;
        // Pulse 1 (0-0.5 µs) peaks near 0.8 of the amplitude after the filter; the nearer of the
        // two samples around it is at most a quarter microsecond off the peak.
        const ADSBScheduledFrame& f = frames[n];
        const auto s = static_cast<std::size_t>(std::ceil(f.startSample));
        const double peak = std::max(magnitude(iq[s]), magnitude(iq[s + 1]));
        ASSERT_GT(peak, 0.45 * f.amplitude) << f.startSample;
        ASSERT_LT(peak, 0.95 * f.amplitude) << f.startSample;
        ASSERT_LT(magnitude(iq[s - 4]), 0.05 * f.amplitude) << f.startSample;
    }
    EXPECT_GT(alone, 300);
    for (std::size_t n = 0; n < static_cast<std::size_t>(last - kReach); ++n) {
        if (!reached[n]) {
            ASSERT_EQ(magnitude(iq[n]), 0.0) << n;
        }
    }
}

TEST(ADSBAircraftEmitterTest, EveryBitSurvivesTheDonglesFilterAtItsRate) {
    // The filter leaves little margin at 2.048 MS/s, but the bits are still in the samples:
    // interpolated band-limited (windowed sinc over 22 samples) at the two chip centres of each
    // bit, start known, every bit of every clean reply compares the right way round without
    // noise, at every offset and sub-sample start the sky draws. (Linear interpolation of
    // magnitudes gets a third of these replies wrong.)
    const ADSBAircraftEmitter emitter = quietSky(3, 20);
    std::vector<IQSample> iq(3 * 2'048'000);
    emitter.render(iq, 0);
    const auto at = [&](double x) {
        const auto n0 = static_cast<std::ptrdiff_t>(std::floor(x));
        std::complex<double> sum;
        for (std::ptrdiff_t k = n0 - 10; k <= n0 + 11; ++k) {
            const double d = (x - static_cast<double>(k)) * std::numbers::pi;
            const double sinc = std::fabs(d) < 1e-12 ? 1.0 : std::sin(d) / d;
            const IQSample s = iq[static_cast<std::size_t>(k)];
            sum += sinc * (0.5 + 0.5 * std::cos(d / 11.5)) * std::complex<double>(s.i, s.q);
        }
        return std::abs(sum);
    };
    double worst = 1.0;
    int replies = 0;
    for (const ADSBScheduledFrame& f :
         emitter.framesBetween(100.0, static_cast<double>(iq.size()) - 400.0)) {
        if (f.isOverlapped) continue;
        ++replies;
        for (int bit = 0; bit < f.bitCount; ++bit) {
            const double first = f.startSample + (8.25 + bit) * 1e-6 * kRate;
            const double difference = (at(first) - at(first + 0.5e-6 * kRate)) / f.amplitude;
            worst = std::min(worst, bitsAt(f.bytes, bit, 1) == 1 ? difference : -difference);
        }
    }
    EXPECT_GT(replies, 500);
    EXPECT_GT(worst, 0.05) << "measured 0.12 of the pulse height";
}

TEST(ADSBAircraftEmitterTest, CarrierIsTheTransponderOffsetPlusTheTunedOffset) {
    // Preamble pulses 1 and 2 peak 0.25 and 1.25 µs after the start, where the filtered pulse
    // is real: the carrier turns 2π·f·1 µs between them, unambiguous within ±500 kHz. At 20 MS/s
    // a sample lies within 25 ns of each peak. (The phase step between arbitrary samples is
    // biased: the filter cuts the pulse's sidebands unevenly and pulls it towards the centre.)
    constexpr double kFastRate = 20'000'000.0;
    const std::pair<double, double> cases[] = {{120'000.0, 0.0},
                                               {120'000.0, 50'000.0},
                                               {-250'000.0, -30'000.0},
                                               {-250'000.0, 400'000.0},
                                               {120'000.0, 1'000.0}};
    ADSBEmitterConfig config;
    config.sampleRateHz = kFastRate;
    config.flights = {{.icao = 0xABCDEF, .callsign = "TEST1", .amplitude = 0.3f}};
    for (const auto& [transponderHz, tunedHz] : cases) {
        SCOPED_TRACE(testing::Message() << transponderHz << " + " << tunedHz);
        config.flights[0].carrierOffsetHz = transponderHz;
        ADSBAircraftEmitter emitter(config);
        emitter.setOffsetHz(600'000.0);  // and back: the filter table follows the offset
        emitter.setOffsetHz(tunedHz);
        std::vector<IQSample> iq(static_cast<std::size_t>(0.5 * kFastRate));
        emitter.render(iq, 0);
        const auto frames = emitter.framesBetween(0.0, static_cast<double>(iq.size()) - 3000.0);
        ASSERT_GT(frames.size(), 3u);
        for (const ADSBScheduledFrame& f : frames) {
            const double t1 = std::round(f.startSample + 0.25e-6 * kFastRate);
            const double t2 = std::round(f.startSample + 1.25e-6 * kFastRate);
            const IQSample a = iq[static_cast<std::size_t>(t1)],
                           b = iq[static_cast<std::size_t>(t2)];
            const double turn = std::arg(std::complex<double>(b.i, b.q) *
                                         std::conj(std::complex<double>(a.i, a.q)));
            EXPECT_NEAR(turn / (kTwoPi * (t2 - t1) / kFastRate), transponderHz + tunedHz, 1'000.0);
        }
    }
}

TEST(ADSBAircraftEmitterTest, NoiseIsWhiteWithTheSigmaTheLevelsReferTo) {
    // 0 dB: a pulse as high as the complex noise rms, sigma·√2.
    EXPECT_NEAR(ADSBAircraftEmitter::amplitudeForLevelDB(0.0, 0.02f), 0.0282843f, 1e-6f);
    EXPECT_NEAR(ADSBAircraftEmitter::amplitudeForLevelDB(20.0, 0.02f), 0.282843f, 1e-5f);
    const ADSBAircraftEmitter noise(ADSBEmitterConfig{.noiseSigma = 0.02f});
    std::vector<IQSample> iq(400'000);
    noise.render(iq, 12345);
    double ii = 0.0, qq = 0.0, iq0 = 0.0, lag = 0.0, mean = 0.0;
    for (std::size_t n = 1; n < iq.size(); ++n) {
        ii += iq[n].i * iq[n].i;
        qq += iq[n].q * iq[n].q;
        iq0 += iq[n].i * iq[n].q;
        lag += iq[n].i * iq[n - 1].i;
        mean += iq[n].i;
    }
    // Standard errors over 400,000 values are 0.16 % of sigma squared.
    const double count = static_cast<double>(iq.size() - 1), variance = 0.02 * 0.02;
    EXPECT_NEAR(ii / count / variance, 1.0, 0.01);
    EXPECT_NEAR(qq / count / variance, 1.0, 0.01);
    EXPECT_NEAR(iq0 / count / variance, 0.0, 0.01);
    EXPECT_NEAR(lag / count / variance, 0.0, 0.01);
    EXPECT_NEAR(mean / count / 0.02, 0.0, 0.01);
}
