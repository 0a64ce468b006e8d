#include "sim/ADSBAircraftEmitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "adsb/ADSBDecoder.h"
#include "adsb/ADSBTracker.h"
#include "platform/DebugLog.h"

namespace {

const double kRefLat = 48.35, kRefLon = 11.78;

}  // namespace

TEST(ADSBAircraftEmitterTest, RenderAddsAndDoesNotDependOnBlockSizes) {
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(kRefLat, kRefLon);
    config.noiseSigma = 0.01f;
    const ADSBAircraftEmitter emitter(config);
    const std::uint64_t origin = 3 * 2'048'000 + 17;
    std::vector<IQSample> whole(300'000);
    emitter.render(whole, origin);
    std::vector<IQSample> pieces(whole.size(), IQSample{0.5f, -0.25f});
    for (std::size_t pos = 0, block = 1; pos < pieces.size(); pos += block, block = block * 3 + 1) {
        const std::size_t n = std::min(block, pieces.size() - pos);
        emitter.render(std::span(pieces).subspan(pos, n), origin + pos);
    }
    for (std::size_t n = 0; n < whole.size(); ++n) {
        ASSERT_NEAR(pieces[n].i - 0.5f, whole[n].i, 1e-6f) << n;
        ASSERT_NEAR(pieces[n].q + 0.25f, whole[n].q, 1e-6f) << n;
    }
    // Squitter rates: about 4.2 frames per second per aircraft.
    const auto frames = emitter.framesBetween(0.0, 10 * 2'048'000.0);
    EXPECT_NEAR(static_cast<double>(frames.size()) / 10.0 / 3.0, 4.2, 0.4);
}

TEST(ADSBAircraftEmitterTest, EveryAircraftIsTrackedWithItsFlightData) {
    // Decoder and tracker on 11 s of the demo sky: each aircraft with its callsign, altitude
    // within 25 ft, speed within 2 kt, heading within 2 deg, position within 0.01 deg, and a trail.
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(kRefLat, kRefLon);
    config.noiseSigma = 0.005f;
    const ADSBAircraftEmitter emitter(config);
    ADSBDecoder decoder;
    ADSBTracker tracker;
    const auto t0 = ADSBTracker::Clock::time_point(std::chrono::seconds(1'700'000'000));
    std::uint64_t sampleIndex = 0;
    decoder.onMessage = [&](const DecodedADSBMessage& m) {
        tracker.handle(m, t0 + std::chrono::microseconds(sampleIndex * 1'000'000 / 2'048'000));
    };
    std::vector<IQSample> block(65'536);
    const double seconds = 11.0;
    while (sampleIndex < static_cast<std::uint64_t>(seconds * 2'048'000)) {
        std::fill(block.begin(), block.end(), IQSample{});
        emitter.render(block, sampleIndex);
        decoder.process(block);
        sampleIndex += block.size();
    }
    const auto aircraft = tracker.snapshot();
    ASSERT_EQ(aircraft.size(), config.flights.size());
    const double end = static_cast<double>(sampleIndex) / 2'048'000.0;
    for (std::size_t f = 0; f < config.flights.size(); ++f) {
        const ADSBFlight& flight = config.flights[f];
        SCOPED_TRACE(flight.callsign);
        const auto it = std::find_if(aircraft.begin(), aircraft.end(), [&](const ADSBAircraft& a) {
            return a.icao == formatString("%06X", flight.icao);
        });
        ASSERT_NE(it, aircraft.end());
        // The last position is at most a second old; the aircraft moves less than 0.002 deg in it.
        const ADSBFlightState state = emitter.stateAt(f, end - 0.5);
        EXPECT_EQ(it->callsign, flight.callsign);
        ASSERT_TRUE(it->altitude && it->groundSpeed && it->heading && it->latitude);
        EXPECT_NEAR(*it->altitude, state.altitudeFeet, 25.0 + std::fabs(flight.verticalRateFpm) / 60.0);
        EXPECT_NEAR(*it->groundSpeed, flight.groundSpeedKnots, 2.0);
        EXPECT_NEAR(*it->heading, flight.trackDeg, 2.0);
        EXPECT_NEAR(*it->verticalRate, flight.verticalRateFpm, 64.0);
        EXPECT_NEAR(*it->latitude, state.latitudeDeg, 0.01);
        EXPECT_NEAR(*it->longitude, state.longitudeDeg, 0.01);
        EXPECT_GE(it->trail.size(), 10u);
    }
}
