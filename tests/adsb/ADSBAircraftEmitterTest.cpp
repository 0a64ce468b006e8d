#include "sim/ADSBAircraftEmitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <numbers>
#include <set>

// The simulated sky on its own, without the receiver's decoder (see ADSBPeerDecoderTest for the
// check against an independent decoder).
namespace {

constexpr double kRate = 2'048'000.0;

std::uint32_t bitsAt(const ADSBFrameBytes& frame, int first, int count) {
    std::uint32_t v = 0;
    for (int k = first; k < first + count; ++k) {
        v = (v << 1) | ((frame[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1u);
    }
    return v;
}

double magnitude(const IQSample& s) { return std::hypot(s.i, s.q); }

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
        for (const ADSBScheduledFrame& f : emitter.framesBetween(static_cast<double>(origin + pos),
                                                                 static_cast<double>(origin + pos + n))) {
            listed.push_back(f);
        }
    }
    // Float sums of the same terms; only the order of the start-time subtraction differs.
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

TEST(ADSBAircraftEmitterTest, RepliesComeAtTheirRates) {
    // 24 aircraft (three without ADS-B out) for 20 s. Squitters follow DO-260 and Annex 10;
    // interrogation replies the configured rates, split 40/10/35/15 between DF4/5/20/21.
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(8, 24));
    const double seconds = 20.0;
    const auto frames = emitter.framesBetween(0.0, seconds * kRate);
    std::map<ADSBReplyKind, int> withES, withoutES;
    for (const ADSBScheduledFrame& f : frames) {
        (emitter.config().flights[f.flight].hasExtendedSquitter ? withES : withoutES)[f.kind]++;
    }
    const double es = 21 * seconds;
    const double all = 24 * seconds;
    struct Case {
        ADSBReplyKind kind;
        double expected;  // frames
    };
    const Case cases[] = {
        {ADSBReplyKind::identification, 0.2 * es}, {ADSBReplyKind::position, 2.0 * es},
        {ADSBReplyKind::velocity, 2.0 * es},       {ADSBReplyKind::acquisitionSquitter, 1.0 * all},
        {ADSBReplyKind::allCallReply, 1.5 * all},  {ADSBReplyKind::altitudeReply, 1.6 * all},
        {ADSBReplyKind::identityReply, 0.4 * all}, {ADSBReplyKind::commBAltitudeReply, 1.4 * all},
        {ADSBReplyKind::commBIdentityReply, 0.6 * all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        const int without = c.kind <= ADSBReplyKind::velocity ? 0 : withoutES[c.kind];
        const double got = withES[c.kind] + without;
        // Within 15 %: the random splits draw a few hundred times (Poisson spread under 10 %).
        EXPECT_NEAR(got, c.expected, 0.15 * c.expected);
    }
    EXPECT_EQ(withoutES[ADSBReplyKind::position] + withoutES[ADSBReplyKind::identification] +
                  withoutES[ADSBReplyKind::velocity], 0);
    // Positions alternate even and odd, except where a reply displaced one.
    std::map<std::size_t, int> lastFormat;
    int alternations = 0, positions = 0;
    for (const ADSBScheduledFrame& f : frames) {
        if (f.kind != ADSBReplyKind::position) continue;
        const int format = static_cast<int>(bitsAt(f.bytes, 53, 1));
        if (lastFormat.contains(f.flight)) {
            ++positions;
            alternations += format != lastFormat[f.flight];
        }
        lastFormat[f.flight] = format;
    }
    EXPECT_GT(alternations, 0.98 * positions);
}

TEST(ADSBAircraftEmitterTest, EveryFrameIsAValidReplyOfItsAircraft) {
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(9, 40));
    const ADSBEmitterConfig& config = emitter.config();
    std::set<int> formats;
    for (const ADSBScheduledFrame& f : emitter.framesBetween(0.0, 5.0 * kRate)) {
        const ADSBFlight& flight = config.flights[f.flight];
        const int df = f.bytes[0] >> 3;
        formats.insert(df);
        ASSERT_EQ(f.bitCount, ADSBEncoder::bitCountOf(f.bytes));
        for (std::size_t n = static_cast<std::size_t>(f.bitCount / 8); n < f.bytes.size(); ++n) ASSERT_EQ(f.bytes[n], 0);
        const std::uint32_t parity = ADSBEncoder::parity(f.bytes, f.bitCount);
        const std::uint32_t tail = bitsAt(f.bytes, f.bitCount - 24, 24);
        if (df == 17 || df == 11) {
            ASSERT_EQ(bitsAt(f.bytes, 8, 24), flight.icao);
            ASSERT_EQ(parity, tail) << "interrogator 0: plain parity";
        } else {
            ASSERT_TRUE(df == 4 || df == 5 || df == 20 || df == 21) << df;
            ASSERT_EQ(parity ^ tail, flight.icao) << "address overlaid on parity";
        }
        const double levelDB = 20.0 * std::log10(f.amplitude / flight.amplitude);
        ASSERT_LE(std::fabs(levelDB), 0.5 * config.replyLevelSpreadDB + 1e-3);
        ASSERT_EQ(f.carrierOffsetHz, flight.carrierOffsetHz);
    }
    EXPECT_EQ(formats, (std::set<int>{4, 5, 11, 17, 20, 21}));
}

TEST(ADSBAircraftEmitterTest, TransponderSendsOneReplyAtATimeWhileAircraftOverlap) {
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(4, 60));
    const auto frames = emitter.framesBetween(0.0, 10.0 * kRate);
    const double guard = 1e-6 * kRate;
    const auto span = [&](const ADSBScheduledFrame& f) { return emitter.durationSamples(f.bitCount); };
    std::map<std::size_t, const ADSBScheduledFrame*> previous;
    int overlapped = 0;
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const ADSBScheduledFrame& f = frames[n];
        if (previous.contains(f.flight)) {
            const ADSBScheduledFrame& p = *previous[f.flight];
            ASSERT_GE(f.startSample, p.startSample + span(p)) << "flight " << f.flight << " at " << f.startSample;
        }
        previous[f.flight] = &f;
        // The flag against every other reply on the air within a microsecond.
        bool expected = false;
        for (const ADSBScheduledFrame& g : frames) {
            if (&g == &f) continue;
            expected = expected || (g.startSample - guard < f.startSample + span(f) &&
                                    f.startSample < g.startSample + span(g) + guard);
        }
        ASSERT_EQ(f.isOverlapped, expected) << n;
        overlapped += f.isOverlapped;
    }
    // About 650 replies a second of 64-120 µs: a few percent of them overlap another.
    const double share = static_cast<double>(overlapped) / static_cast<double>(frames.size());
    EXPECT_GT(share, 0.02);
    EXPECT_LT(share, 0.3);
}

TEST(ADSBAircraftEmitterTest, SignalIsExactlyItsGroundTruth) {
    // Without noise: every reply's first preamble pulse is where and as strong as listed, and
    // samples beyond every reply's reach are silent.
    ADSBEmitterConfig config = ADSBAircraftEmitter::busySkyConfig(5, 30);
    config.noiseSigma = 0.0f;
    const ADSBAircraftEmitter emitter(config);
    std::vector<IQSample> iq(2 * 2'048'000);
    emitter.render(iq, 0);
    const double last = static_cast<double>(iq.size()) - emitter.durationSamples(112) - 20.0;
    const auto frames = emitter.framesBetween(0.0, last);
    // The response reaches 4.7 µs (under 10 samples) to either side of a reply.
    constexpr double kReach = 10.0;
    const auto from = [&](const ADSBScheduledFrame& f) { return f.startSample - kReach; };
    const auto to = [&](const ADSBScheduledFrame& f) {
        return f.startSample + emitter.durationSamples(f.bitCount) + kReach;
    };
    std::vector<bool> reached(iq.size(), false);
    int isolated = 0;
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const ADSBScheduledFrame& f = frames[n];
        for (double s = std::max(0.0, std::ceil(from(f))); s <= to(f) && s < last; s += 1.0) reached[static_cast<std::size_t>(s)] = true;
        const bool alone = (n == 0 || to(frames[n - 1]) < from(f)) &&
                           (n + 1 == frames.size() || to(f) < from(frames[n + 1]));
        if (!alone || f.startSample < 20.0) continue;
        ++isolated;
        // Pulse 1 (0-0.5 µs) peaks near 0.8 of the amplitude after the filter; the nearer of
        // the two samples around it is at most a quarter microsecond off the peak.
        const auto s = static_cast<std::size_t>(std::ceil(f.startSample));
        const double peak = std::max(magnitude(iq[s]), magnitude(iq[s + 1]));
        ASSERT_GT(peak, 0.45 * f.amplitude) << f.startSample;
        ASSERT_LT(peak, 0.95 * f.amplitude) << f.startSample;
        ASSERT_LT(magnitude(iq[s - 4]), 0.05 * f.amplitude) << "nothing before the preamble";
    }
    EXPECT_GT(isolated, 300);
    for (std::size_t n = 0; n < static_cast<std::size_t>(last - kReach); ++n) {
        if (!reached[n]) {
            ASSERT_EQ(magnitude(iq[n]), 0.0) << n;
        }
    }
}

TEST(ADSBAircraftEmitterTest, CarrierIsTheTransponderOffsetPlusTheTunedOffset) {
    // Preamble pulses 1 and 2 are centred 0.25 and 1.25 µs after a reply's start, where the
    // filtered pulse is real: the carrier turns 2π·f·1 µs between them, unambiguous within
    // ±500 kHz. Rendered at 20 MS/s so that a sample falls within 25 ns of each centre. (The
    // phase step between arbitrary samples would not do: the dongle's filter cuts the pulse
    // spectrum unevenly and pulls its centroid towards the tuned centre.)
    constexpr double kFastRate = 20'000'000.0;
    struct Case {
        double transponderHz;
        double tunedHz;
    };
    const Case cases[] = {{120'000.0, 0.0}, {120'000.0, 50'000.0}, {-250'000.0, -30'000.0},
                          {-250'000.0, 400'000.0}, {120'000.0, 1'000.0}};
    ADSBEmitterConfig config;
    config.sampleRateHz = kFastRate;
    config.flights = {{.icao = 0xABCDEF, .callsign = "TEST1", .amplitude = 0.3f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.transponderHz << " + " << c.tunedHz);
        config.flights[0].carrierOffsetHz = c.transponderHz;
        ADSBAircraftEmitter emitter(config);
        emitter.setOffsetHz(600'000.0);  // and back: the filter table follows the offset
        emitter.setOffsetHz(c.tunedHz);
        std::vector<IQSample> iq(static_cast<std::size_t>(0.5 * kFastRate));
        emitter.render(iq, 0);
        const auto frames = emitter.framesBetween(0.0, static_cast<double>(iq.size()) - 3000.0);
        ASSERT_GT(frames.size(), 3u);
        for (const ADSBScheduledFrame& f : frames) {
            const double t1 = std::round(f.startSample + 0.25e-6 * kFastRate);
            const double t2 = std::round(f.startSample + 1.25e-6 * kFastRate);
            const IQSample a = iq[static_cast<std::size_t>(t1)], b = iq[static_cast<std::size_t>(t2)];
            const std::complex<double> turn =
                std::complex<double>(b.i, b.q) * std::conj(std::complex<double>(a.i, a.q));
            const double hz = std::arg(turn) / (2.0 * std::numbers::pi * (t2 - t1) / kFastRate);
            EXPECT_NEAR(hz, c.transponderHz + c.tunedHz, 1'000.0) << f.startSample;
        }
    }
}

TEST(ADSBAircraftEmitterTest, BusySkySpansNoiseToStrongWithinTransponderTolerances) {
    const ADSBSkySettings settings{.noiseSigma = 0.01f, .weakestLevelDB = 0.0, .strongestLevelDB = 34.0};
    const ADSBEmitterConfig config = ADSBAircraftEmitter::busySkyConfig(11, 48, settings);
    ASSERT_EQ(config.flights.size(), 48u);
    std::set<std::uint32_t> addresses;
    double weakest = 1e9, strongest = -1e9, lowestHz = 0.0, highestHz = 0.0;
    int withoutES = 0;
    for (const ADSBFlight& f : config.flights) {
        addresses.insert(f.icao);
        const double level = ADSBAircraftEmitter::levelDBOf(f.amplitude, settings.noiseSigma);
        weakest = std::min(weakest, level);
        strongest = std::max(strongest, level);
        lowestHz = std::min(lowestHz, f.carrierOffsetHz);
        highestHz = std::max(highestHz, f.carrierOffsetHz);
        withoutES += !f.hasExtendedSquitter;
        EXPECT_GE(f.pulse.riseUs, 0.05);
        EXPECT_LE(f.pulse.riseUs, 0.1);
        EXPECT_GE(f.pulse.decayUs, 0.05);
        EXPECT_LE(f.pulse.decayUs, 0.2);
        EXPECT_NEAR(f.pulse.widthUs, 0.5, 0.05);
        EXPECT_LE(f.amplitude, 1.0f) << "the strongest must not clip the 8-bit range";
    }
    EXPECT_EQ(addresses.size(), config.flights.size());
    EXPECT_NEAR(weakest, 0.0, 1e-3);
    EXPECT_NEAR(strongest, 34.0, 1e-3);
    EXPECT_GE(lowestHz, -300'000.0);
    EXPECT_LE(highestHz, 300'000.0);
    EXPECT_GT(highestHz - lowestHz, 400'000.0) << "offsets spread over the tolerance";
    EXPECT_EQ(withoutES, 6);
    EXPECT_EQ(config.noiseSigma, 0.01f);
    EXPECT_EQ(ADSBAircraftEmitter::busySkyConfig(11, 48, {.addsNoise = false}).noiseSigma, 0.0f);
}

TEST(ADSBAircraftEmitterTest, NoiseIsWhiteWithTheConfiguredSigma) {
    ADSBEmitterConfig config;
    config.noiseSigma = 0.02f;
    const ADSBAircraftEmitter emitter(config);
    std::vector<IQSample> iq(400'000);
    emitter.render(iq, 12345);
    double sumI = 0.0, sumII = 0.0, sumQQ = 0.0, sumIQ = 0.0, sumLag = 0.0;
    for (std::size_t n = 0; n < iq.size(); ++n) {
        sumI += iq[n].i;
        sumII += iq[n].i * iq[n].i;
        sumQQ += iq[n].q * iq[n].q;
        sumIQ += iq[n].i * iq[n].q;
        if (n > 0) sumLag += iq[n].i * iq[n - 1].i;
    }
    const double count = static_cast<double>(iq.size());
    const double variance = 0.02 * 0.02;
    // Estimates from 400,000 values: standard errors below 0.3 % of sigma squared.
    EXPECT_NEAR(std::sqrt(sumII / count), 0.02, 0.0004);
    EXPECT_NEAR(std::sqrt(sumQQ / count), 0.02, 0.0004);
    EXPECT_NEAR(sumI / count, 0.0, 0.0002);
    EXPECT_NEAR(sumIQ / count / variance, 0.0, 0.01);
    EXPECT_NEAR(sumLag / count / variance, 0.0, 0.01);
}
