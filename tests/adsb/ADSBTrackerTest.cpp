#include "adsb/ADSBTracker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "ADSBTestFrames.h"
#include "sim/ADSBEncoder.h"

namespace {

using namespace std::chrono_literals;
using Clock = ADSBTracker::Clock;
const Clock::time_point t0 = Clock::time_point(std::chrono::seconds(1'700'000'000));

// The message as received `after` the start of the stream (the tracker keeps stream time).
DecodedADSBMessage at(DecodedADSBMessage m, Clock::duration after) {
    m.sampleIndex = static_cast<std::uint64_t>(
        std::chrono::duration<double>(after).count() * ADSBTracker::kSampleRateHz);
    return m;
}

DecodedADSBMessage position(std::uint32_t icao, double lat, double lon, bool isOdd,
                            int altitudeFeet = 10'000) {
    return messageOf(ADSBEncoder::airbornePosition({.icao = icao, .latitudeDeg = lat,
                                                    .longitudeDeg = lon,
                                                    .altitudeFeet = altitudeFeet, .isOdd = isOdd}));
}

// Sets message bits first..first+count-1 (most significant first) and leaves the rest alone.
void setBits(DecodedADSBMessage& m, int first, int count, std::uint32_t value) {
    for (int k = 0; k < count; ++k) {
        m.rawBits[static_cast<std::size_t>(first + k)] = (value >> (count - 1 - k)) & 1u;
    }
}

DecodedADSBMessage velocity(std::uint32_t subtype, bool west, std::uint32_t vEW, bool south,
                            std::uint32_t vNS, bool down, std::uint32_t vr) {
    DecodedADSBMessage m = messageOf(frameFromHex(kVelocity));
    setBits(m, 37, 3, subtype);
    setBits(m, 45, 1, west);
    setBits(m, 46, 10, vEW);
    setBits(m, 56, 1, south);
    setBits(m, 57, 10, vNS);
    setBits(m, 68, 1, down);
    setBits(m, 69, 9, vr);
    return m;
}

}  // namespace

TEST(ADSBTrackerTest, PublishedPairDecodesToKnownPosition) {
    // The even frame is the newer one in the published example.
    ADSBTracker tracker;
    tracker.handle(messageOf(frameFromHex(kPositionOdd)), t0);
    tracker.handle(at(messageOf(frameFromHex(kPositionEven)), 2s), t0 + 2s);
    const auto aircraft = tracker.snapshot();
    ASSERT_EQ(aircraft.size(), 1u);
    EXPECT_EQ(aircraft[0].icao, "40621D");
    ASSERT_TRUE(aircraft[0].latitude && aircraft[0].longitude);
    EXPECT_NEAR(*aircraft[0].latitude, 52.25720, 1e-5);
    EXPECT_NEAR(*aircraft[0].longitude, 3.91937, 1e-5);
    EXPECT_EQ(aircraft[0].altitude, 38'000);
    EXPECT_EQ(aircraft[0].messageCount, 2);
    EXPECT_EQ(aircraft[0].trail.size(), 1u);
}

TEST(ADSBTrackerTest, GlobalDecodeWorksWhereZoneIndicesAreNegative) {
    // j and m are negative at these places; a remainder with the sign of the dividend lost them.
    struct Case {
        double lat, lon;
    };
    const Case cases[] = {{48.35, 11.78},  {60.32, 24.96},   {42.36, -71.06}, {-33.94, 151.18},
                          {-22.91, -43.17}, {0.05, -0.05},    {71.2, -156.8},  {35.55, 139.78}};
    for (const Case& c : cases) {
        for (bool oddLast : {false, true}) {
            SCOPED_TRACE(std::to_string(c.lat) + "," + std::to_string(c.lon) + (oddLast ? " odd" : " even"));
            const auto fix = decodeADSBGlobalCPR(position(1, c.lat, c.lon, false).rawBits,
                                                 position(1, c.lat, c.lon, true).rawBits, oddLast);
            ASSERT_TRUE(fix.has_value());
            // CPR resolution: 360 / 60 / 2^17 = 4.6e-5 deg in latitude, somewhat more in longitude.
            EXPECT_NEAR(fix->latitudeDeg, c.lat, 1e-4);
            EXPECT_NEAR(fix->longitudeDeg, c.lon, 2e-4);
        }
    }
}

TEST(ADSBTrackerTest, GlobalDecodeSweepAgreesWithEncoder) {
    // Every pair not straddling a zone boundary decodes to its position.
    int decoded = 0, total = 0;
    for (double lat = -86.9; lat < 87.0; lat += 1.37) {
        for (double lon = -179.9; lon < 180.0; lon += 7.31) {
            ++total;
            const auto fix = decodeADSBGlobalCPR(position(2, lat, lon, false).rawBits,
                                                 position(2, lat, lon, true).rawBits, true);
            if (!fix) continue;
            ++decoded;
            EXPECT_NEAR(fix->latitudeDeg, lat, 1e-4) << lat << "," << lon;
            // One longitude step is 360 / max(NL - 1, 1) / 2^17 for the odd frame.
            const double step = 360.0 / std::max(adsbCPRZones(lat) - 1, 1) / 131072.0;
            EXPECT_NEAR(std::remainder(fix->longitudeDeg - lon, 360.0), 0.0, step) << lat << "," << lon;
        }
    }
    EXPECT_GE(decoded, total * 97 / 100);
}

TEST(ADSBTrackerTest, ZoneCountMatchesTransitionLatitudes) {
    // The decoder's closed form against the encoder's table of DO-260 transition latitudes.
    for (double lat = -86.99; lat < 87.0; lat += 0.013) {
        ASSERT_EQ(adsbCPRZones(lat), ADSBEncoder::longitudeZones(lat)) << lat;
    }
    EXPECT_EQ(adsbCPRZones(0.0), 59);
    EXPECT_EQ(adsbCPRZones(87.5), 1);
}

TEST(ADSBTrackerTest, PairMustBeLessThanTenSecondsApart) {
    struct Case {
        std::chrono::milliseconds apart;
        bool decodes;
    };
    for (const Case c : {Case{9'900ms, true}, Case{10'000ms, false}}) {
        SCOPED_TRACE(c.apart.count());
        ADSBTracker tracker;
        tracker.handle(position(3, 48.35, 11.78, false), t0);
        tracker.handle(at(position(3, 48.35, 11.78, true), c.apart), t0 + c.apart);
        EXPECT_EQ(tracker.snapshot()[0].latitude.has_value(), c.decodes);
    }
}

TEST(ADSBTrackerTest, PairAcrossZoneBoundaryGivesNoPosition) {
    // 10.47047 deg is the transition from 59 to 58 longitude zones.
    ADSBTracker tracker;
    tracker.handle(position(4, 10.467, 20.0, false), t0);
    tracker.handle(at(position(4, 10.474, 20.0, true), 1s), t0 + 1s);
    EXPECT_FALSE(tracker.snapshot()[0].latitude.has_value());
}

TEST(ADSBTrackerTest, TrailKeepsTheLastThirtyPositions) {
    ADSBTracker tracker;
    tracker.handle(position(5, 50.0, 10.0, false), t0);
    for (int n = 1; n <= 31; ++n) {
        tracker.handle(at(position(5, 50.0 + 0.001 * n, 10.0, n % 2 == 1), n * 500ms), t0 + n * 500ms);
    }
    const ADSBAircraft a = tracker.snapshot()[0];
    ASSERT_EQ(a.trail.size(), ADSBTracker::kMaxTrail);
    EXPECT_NEAR(a.trail.front().latitudeDeg, 50.002, 1e-4);  // the first decoded point is gone
    EXPECT_NEAR(a.trail.back().latitudeDeg, 50.031, 1e-4);
    EXPECT_NEAR(*a.latitude, 50.031, 1e-4);
}

TEST(ADSBTrackerTest, DecodesCallsignAndAltitude) {
    // K L M 1 2 3 4 space; code 0 ('#') in the middle is skipped.
    DecodedADSBMessage ident = messageOf(frameFromHex(kIdentificationKLM1023));
    const std::uint32_t codes[] = {11, 12, 13, 49, 50, 51, 52, 32};
    for (int k = 0; k < 8; ++k) setBits(ident, 40 + 6 * k, 6, codes[k]);
    EXPECT_EQ(decodeADSBCallsign(ident.rawBits), "KLM1234");
    setBits(ident, 40 + 6 * 3, 6, 0);
    EXPECT_EQ(decodeADSBCallsign(ident.rawBits), "KLM234");
    for (int k = 0; k < 8; ++k) setBits(ident, 40 + 6 * k, 6, 32);
    EXPECT_EQ(decodeADSBCallsign(ident.rawBits), "");

    ADSBTracker tracker;
    DecodedADSBMessage pos = messageOf(frameFromHex(kPositionEven));
    setBits(pos, 40, 12, 0xC38);
    tracker.handle(pos, t0);
    EXPECT_EQ(tracker.snapshot()[0].altitude, 38'000);
    setBits(pos, 40, 12, 0xC28);  // Q bit (field bit 7) clear: Gillham code, not decoded
    tracker.handle(at(pos, 1s), t0 + 1s);
    EXPECT_EQ(tracker.snapshot()[0].altitude, 38'000);
    EXPECT_EQ(tracker.snapshot()[0].messageCount, 2);
}

TEST(ADSBTrackerTest, DecodesVelocity) {
    struct Case {
        const char* what;
        DecodedADSBMessage message;
        std::optional<double> speed, heading;
        std::optional<int> verticalRate;
    };
    const Case cases[] = {
        {"east 100 kt", velocity(1, false, 101, false, 1, false, 0), 100.0, 90.0, std::nullopt},
        {"south-west, climbing", velocity(1, true, 101, true, 101, false, 11), 141.42, 225.0, 640},
        {"supersonic steps of 4 kt", velocity(2, false, 26, false, 1, true, 2), 100.0, 90.0, -64},
        {"no east-west information", velocity(1, false, 0, false, 50, false, 5), std::nullopt,
         std::nullopt, std::nullopt},
        {"airspeed subtype ignored", velocity(3, false, 101, false, 1, false, 5), std::nullopt,
         std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ADSBTracker tracker;
        tracker.handle(c.message, t0);
        const ADSBAircraft a = tracker.snapshot()[0];
        ASSERT_EQ(a.groundSpeed.has_value(), c.speed.has_value());
        if (c.speed) {
            EXPECT_NEAR(*a.groundSpeed, *c.speed, 0.01);
            EXPECT_NEAR(*a.heading, *c.heading, 0.01);
        }
        EXPECT_EQ(a.verticalRate, c.verticalRate);
    }
    // The published frame: 159.20 kt, 182.88 deg, 832 ft/min down.
    const auto v = decodeADSBVelocity(messageOf(frameFromHex(kVelocity)).rawBits);
    ASSERT_TRUE(v.has_value());
    EXPECT_NEAR(v->groundSpeedKnots, 159.20, 0.01);
    EXPECT_NEAR(v->headingDeg, 182.88, 0.01);
    EXPECT_EQ(v->verticalRateFpm, -832);
}

TEST(ADSBTrackerTest, SnapshotIsNewestFirstAndResetEmptiesEverything) {
    ADSBTracker tracker;
    tracker.handle(at(messageOf(frameFromHex(kVelocity)), 1s), t0 + 1s);
    tracker.handle(at(messageOf(frameFromHex(kIdentificationKLM1023)), 3s), t0 + 3s);
    tracker.handle(at(position(0xABCDEF, 48.0, 11.0, false), 2s), t0 + 2s);
    const auto list = tracker.snapshot();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].icao, "4840D6");
    EXPECT_EQ(list[0].callsign, "KLM1023");
    EXPECT_EQ(list[1].icao, "ABCDEF");
    EXPECT_EQ(list[2].icao, "485020");
    EXPECT_EQ(list[2].id, "485020");

    tracker.reset();
    EXPECT_TRUE(tracker.snapshot().empty());
    // The pending even message went too: a lone odd one decodes nothing.
    tracker.handle(at(position(0xABCDEF, 48.0, 11.0, true), 4s), t0 + 4s);
    EXPECT_FALSE(tracker.snapshot()[0].latitude.has_value());
}

TEST(ADSBTrackerTest, SnapshotAndResetRaceSafelyWithHandle) {
    // The processing thread delivers while the main thread copies and clears (run under TSan).
    ADSBTracker tracker;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int n = 0; n < 20'000; ++n) {
            const auto icao = static_cast<std::uint32_t>(0x100000 + n % 50);
            tracker.handle(position(icao, 45.0 + 0.0001 * n, 15.0, n % 2 == 1),
                           t0 + std::chrono::milliseconds(n));
        }
        done = true;
    });
    std::size_t copies = 0;
    while (!done) {
        for (const ADSBAircraft& a : tracker.snapshot()) {
            ASSERT_EQ(a.id, a.icao);
            ASSERT_LE(a.trail.size(), ADSBTracker::kMaxTrail);
        }
        if (++copies % 8 == 0) tracker.reset();
    }
    producer.join();
    EXPECT_LE(tracker.snapshot().size(), 50u);
}

TEST(ADSBTrackerTest, RandomMessagesNeverCrash) {
    // Any type code with any payload, including pairs that decode out of range.
    std::uint64_t state = 12345;
    const auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    };
    ADSBTracker tracker;
    for (int n = 0; n < 5000; ++n) {
        DecodedADSBMessage m;
        for (auto& b : m.rawBits) b = next() & 1u;
        m.icao = n % 7 == 0 ? "000001" : "000002";
        m.typeCode = static_cast<int>(next() % 32);
        tracker.handle(at(m, std::chrono::milliseconds(100 * n)), t0 + std::chrono::milliseconds(100 * n));
    }
    for (const ADSBAircraft& a : tracker.snapshot()) {
        EXPECT_LE(std::fabs(a.latitude.value_or(0.0)), 90.0);
        EXPECT_LE(std::fabs(a.longitude.value_or(0.0)), 180.0);
        EXPECT_LT(a.heading.value_or(0.0), 360.0);
    }
}

TEST(ADSBTrackerTest, PairsOnStreamTimeNotTheWallClock) {
    // Replayed fast: the wall clock says a minute apart, the stream says one second.
    ADSBTracker tracker;
    tracker.handle(at(position(6, 48.35, 11.78, false), 0s), t0);
    tracker.handle(at(position(6, 48.35, 11.78, true), 1s), t0 + 60s);
    EXPECT_TRUE(tracker.snapshot()[0].latitude.has_value());
}

TEST(ADSBTrackerTest, AircraftSilentForAMinuteLeaveTheList) {
    ADSBTracker tracker;
    tracker.handle(at(position(7, 48.0, 11.0, false), 0s), t0);
    tracker.handle(at(position(8, 48.0, 11.0, false), 30s), t0);
    const auto sampleAt = [](double seconds) {
        return static_cast<std::uint64_t>(seconds * ADSBTracker::kSampleRateHz);
    };
    tracker.expire(sampleAt(59.9));
    EXPECT_EQ(tracker.snapshot().size(), 2u);
    tracker.expire(sampleAt(60.1));
    ASSERT_EQ(tracker.snapshot().size(), 1u);
    EXPECT_EQ(tracker.snapshot()[0].icao, "000008");
    // Its pending position went with it: a lone odd message decodes nothing.
    tracker.handle(at(position(7, 48.0, 11.0, true), 61s), t0);
    EXPECT_FALSE(tracker.snapshot()[0].latitude.has_value());
}

TEST(ADSBTrackerTest, EveryPositionMessageMovesTheTrackAfterTheFirstFix) {
    // An aircraft flying east at about 450 kt, heard only in even messages after the first pair.
    ADSBTracker tracker;
    const auto lonAt = [](double seconds) { return 16.0 + seconds * 0.0028; };
    tracker.handle(at(position(9, 45.8, lonAt(0.0), false), 0s), t0);
    tracker.handle(at(position(9, 45.8, lonAt(0.5), true), 500ms), t0);
    ASSERT_EQ(tracker.snapshot()[0].trail.size(), 1u);
    for (int n = 1; n <= 20; ++n) {
        const double seconds = 0.5 + n * 0.5;
        const ADSBTrackUpdate u = tracker.handle(
            at(position(9, 45.8, lonAt(seconds), false), std::chrono::milliseconds(500 + 500 * n)), t0);
        ASSERT_TRUE(u.positionUpdated) << n;
        EXPECT_NEAR(*u.aircraft.longitude, lonAt(seconds), 1e-4);
        EXPECT_NEAR(*u.aircraft.latitude, 45.8, 1e-4);
    }
    EXPECT_EQ(tracker.snapshot()[0].trail.size(), 21u);
}

TEST(ADSBTrackerTest, RefusesImpossibleJumpsUntilTwoFixesAgree) {
    ADSBTracker tracker;
    tracker.handle(at(position(10, 45.0, 15.0, false), 0s), t0);
    tracker.handle(at(position(10, 45.0, 15.0, true), 1s), t0);
    ASSERT_NEAR(*tracker.snapshot()[0].latitude, 45.0, 1e-4);
    // 1.5 degrees north (90 NM) two seconds later: far beyond 1,500 kt. The local decode lands
    // near the old track and is refused too, so the position stays.
    EXPECT_FALSE(tracker.handle(at(position(10, 46.5, 15.0, false), 2s), t0).positionUpdated);
    EXPECT_FALSE(tracker.handle(at(position(10, 46.5, 15.0, true), 3s), t0).positionUpdated);
    EXPECT_NEAR(*tracker.snapshot()[0].latitude, 45.0, 1e-4);
    // A second global decode agreeing with the first refused one: the old track was wrong.
    const ADSBTrackUpdate u = tracker.handle(at(position(10, 46.5, 15.0, false), 4s), t0);
    EXPECT_TRUE(u.positionUpdated);
    EXPECT_NEAR(*u.aircraft.latitude, 46.5, 1e-4);
}
