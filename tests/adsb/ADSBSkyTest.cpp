#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ADSBTestFrames.h"
#include "adsb/ADSBDecoder.h"
#include "sim/ADSBAircraftEmitter.h"
#include "sim/SimQuantise.h"

// The decoder on skies rendered like a dongle delivers them: pulses with finite edges through
// the tuner's filter, random sub-sample timing, carrier phase and offsets of a few hundred kHz,
// overlapping replies, DF11 and DF4/5/20/21 among the squitters, receiver noise and 8-bit
// quantisation. Ground truth is the emitter's own frame list.
namespace {

struct SkyScore {
    int clean = 0;          // DF17 frames alone on the air
    int deliveredOnce = 0;  // of those, delivered exactly once
    int unmatched = 0;      // deliveries matching no frame sent
    std::array<int, 8> cleanByTiming{};
    std::array<int, 8> onceByTiming{};
};

bool isSquitter(const ADSBScheduledFrame& f) {
    return f.kind == ADSBReplyKind::identification || f.kind == ADSBReplyKind::position ||
           f.kind == ADSBReplyKind::velocity;
}

SkyScore score(const ADSBEmitterConfig& config, double seconds) {
    const ADSBAircraftEmitter emitter(config);
    const auto total = static_cast<std::size_t>(seconds * 2'048'000.0);
    std::vector<IQSample> iq(total);
    emitter.render(iq, 0);
    // Through the dongle's 8-bit converter and back.
    const std::vector<unsigned char> bytes = quantiseToBytes(iq);
    for (std::size_t n = 0; n < total; ++n) {
        iq[n] = {(bytes[2 * n] - 127.5f) / 127.5f, (bytes[2 * n + 1] - 127.5f) / 127.5f};
    }
    std::vector<DecodedADSBMessage> got;
    ADSBDecoder decoder;
    decoder.onMessage = [&got](const DecodedADSBMessage& m) { got.push_back(m); };
    for (std::size_t pos = 0; pos < total; pos += 4096) {
        decoder.process(std::span(iq).subspan(pos, std::min<std::size_t>(4096, total - pos)));
    }
    const std::vector<ADSBScheduledFrame> frames =
        emitter.framesBetween(0.0, static_cast<double>(total) - 300.0);
    SkyScore s;
    std::vector<int> hits(frames.size(), 0);
    for (const DecodedADSBMessage& m : got) {
        bool found = false;
        for (std::size_t k = 0; k < frames.size(); ++k) {
            if (!isSquitter(frames[k]) ||
                std::fabs(frames[k].startSample - static_cast<double>(m.sampleIndex)) > 3.0 ||
                !sameFrame(m, messageOf(frames[k].bytes))) {
                continue;
            }
            ++hits[k];
            found = true;
        }
        if (!found) ++s.unmatched;
    }
    for (std::size_t k = 0; k < frames.size(); ++k) {
        if (!isSquitter(frames[k]) || frames[k].isOverlapped) continue;
        const double timing = frames[k].startSample - std::floor(frames[k].startSample);
        const auto bin = static_cast<std::size_t>(timing * 8.0);
        ++s.clean;
        ++s.cleanByTiming[bin];
        if (hits[k] == 1) {
            ++s.deliveredOnce;
            ++s.onceByTiming[bin];
        }
    }
    return s;
}

// A few aircraft all at one level (dB of pulse height over the noise, as the emitter states
// it), so a sweep over levels shows where frames start to be lost.
ADSBEmitterConfig skyAtLevel(double levelDB, std::uint64_t seed) {
    ADSBEmitterConfig config = ADSBAircraftEmitter::busySkyConfig(
        seed, 6, {.weakestLevelDB = levelDB, .strongestLevelDB = levelDB});
    config.replyLevelSpreadDB = 0.0;
    return config;
}

}  // namespace

TEST(ADSBSkyTest, BusySkyCleanFramesArriveExactlyOnceAtEveryTiming) {
    // Thirty aircraft from 15 to 34 dB over the noise for 4 s: every sub-sample timing of a
    // clean squitter must decode, and nothing may be delivered that was not sent.
    ADSBEmitterConfig config = ADSBAircraftEmitter::busySkyConfig(
        11, 30, {.weakestLevelDB = 15.0, .strongestLevelDB = 34.0});
    const SkyScore s = score(config, 4.0);
    ASSERT_GT(s.clean, 300);
    std::printf("busy sky: %d of %d clean DF17 frames delivered once, %d unmatched\n",
                s.deliveredOnce, s.clean, s.unmatched);
    EXPECT_GE(s.deliveredOnce, 0.95 * s.clean);
    EXPECT_EQ(s.unmatched, 0);
    for (std::size_t bin = 0; bin < 8; ++bin) {
        SCOPED_TRACE(bin);
        ASSERT_GT(s.cleanByTiming[bin], 20);
        std::printf("  timing %.3f-%.3f of a sample: %d of %d\n", bin / 8.0, (bin + 1) / 8.0,
                    s.onceByTiming[bin], s.cleanByTiming[bin]);
        EXPECT_GE(s.onceByTiming[bin], 0.93 * s.cleanByTiming[bin]);
    }
}

TEST(ADSBSkyTest, LevelSweepFindsWhereHalfTheFramesAreLost) {
    // Strong signals decode completely; losses start near the noise. The figures are printed
    // for the record; the bounds catch a decoder that has lost sensitivity or robustness.
    struct Row {
        double levelDB;
        double atLeast;
    };
    const Row rows[] = {{10.0, 0.0}, {13.0, 0.0}, {14.0, 0.2},  {15.0, 0.5},
                        {16.0, 0.8}, {17.0, 0.9}, {20.0, 0.97}, {26.0, 0.97}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.levelDB);
        const SkyScore s = score(skyAtLevel(row.levelDB, 5), 3.0);
        ASSERT_GT(s.clean, 50);
        const double fraction = static_cast<double>(s.deliveredOnce) / s.clean;
        std::printf("level %4.1f dB: %d of %d (%.1f %%), %d unmatched\n", row.levelDB,
                    s.deliveredOnce, s.clean, 100.0 * fraction, s.unmatched);
        EXPECT_GE(fraction, row.atLeast);
        EXPECT_EQ(s.unmatched, 0);
    }
}
