#include "feeds/ADSBAircraftTable.h"

#include <gtest/gtest.h>

#include <cmath>

#include "adsb/ADSBTestFrames.h"

namespace {

using namespace std::chrono_literals;
using Clock = ADSBAircraftTable::Clock;
const Clock::time_point t0 = Clock::time_point(1'700'000'000s);

ADSBTrackUpdate update(const char* hexFrame, ADSBAircraft aircraft, float level = 0.0f,
                       bool positionUpdated = false) {
    DecodedADSBMessage m = messageOf(frameFromHex(hexFrame));
    m.signalLevel = level;
    aircraft.icao = m.icao;
    return {.message = m, .aircraft = aircraft, .positionUpdated = positionUpdated};
}

// The fields tar1090 reads from aircraft.json, with the JSON types it expects.
void expectReadableByTar1090(const nlohmann::json& doc) {
    ASSERT_TRUE(doc.is_object());
    ASSERT_TRUE(doc.contains("now") && doc["now"].is_number());
    ASSERT_TRUE(doc.contains("messages") && doc["messages"].is_number_unsigned());
    ASSERT_TRUE(doc.contains("aircraft") && doc["aircraft"].is_array());
    for (const auto& a : doc["aircraft"]) {
        ASSERT_TRUE(a.contains("hex") && a["hex"].is_string());
        const std::string hex = a["hex"];
        EXPECT_EQ(hex.size(), 6u);
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
        for (const char* number : {"alt_baro", "gs", "track", "baro_rate", "lat", "lon", "seen",
                                   "seen_pos", "messages", "rssi"}) {
            if (a.contains(number)) {
                EXPECT_TRUE(a[number].is_number()) << number;
            }
        }
        if (a.contains("flight")) {
            EXPECT_TRUE(a["flight"].is_string());
        }
        EXPECT_TRUE(a.contains("seen") && a.contains("messages"));
    }
}

}  // namespace

TEST(ADSBAircraftTableTest, DocumentCarriesWhatTheUpdatesSaid) {
    ADSBAircraftTable table;
    table.record(update(kIdentificationKLM1023, {.callsign = "KLM1023"}, 0.1f), t0);
    // The same address as the identification, so the values gather on one aircraft.
    ADSBTrackUpdate fix = update(kIdentificationKLM1023,
                                 {.altitude = 38'000, .latitude = 52.25720473, .longitude = 3.91937256},
                                 0.1f, /*positionUpdated=*/true);
    table.record(fix, t0 + 1s);
    table.record(update(kIdentificationKLM1023,
                        {.groundSpeed = 159.2036, .heading = 182.8803, .verticalRate = -832}, 0.1f),
                 t0 + 2s);

    const nlohmann::json doc = table.document(t0 + 2500ms);
    expectReadableByTar1090(doc);
    EXPECT_DOUBLE_EQ(doc["now"].get<double>(), 1'700'000'002.5);
    EXPECT_EQ(doc["messages"], 3);
    ASSERT_EQ(doc["aircraft"].size(), 1u);
    const auto& a = doc["aircraft"][0];
    EXPECT_EQ(a["hex"], "4840d6");
    EXPECT_EQ(a["flight"], "KLM1023 ");  // padded to the field's eight characters
    EXPECT_EQ(a["alt_baro"], 38'000);
    EXPECT_DOUBLE_EQ(a["gs"].get<double>(), 159.2);
    EXPECT_DOUBLE_EQ(a["track"].get<double>(), 182.9);
    EXPECT_EQ(a["baro_rate"], -832);
    EXPECT_DOUBLE_EQ(a["lat"].get<double>(), 52.257205);
    EXPECT_DOUBLE_EQ(a["lon"].get<double>(), 3.919373);
    EXPECT_DOUBLE_EQ(a["seen"].get<double>(), 0.5);
    EXPECT_DOUBLE_EQ(a["seen_pos"].get<double>(), 1.5);
    EXPECT_EQ(a["messages"], 3);
    EXPECT_DOUBLE_EQ(a["rssi"].get<double>(), -20.0);  // level 0.1 is -20 dBFS
}

TEST(ADSBAircraftTableTest, UnknownValuesAreLeftOut) {
    ADSBAircraftTable table;
    // No level measured, no callsign, no position yet.
    table.record(update(kPositionEven, {.altitude = 38'000}), t0);
    const nlohmann::json doc = table.document(t0);
    expectReadableByTar1090(doc);
    const auto& a = doc["aircraft"][0];
    EXPECT_EQ(a["hex"], "40621d");
    EXPECT_EQ(a["alt_baro"], 38'000);
    for (const char* absent : {"flight", "gs", "track", "baro_rate", "lat", "lon", "seen_pos", "rssi"})
        EXPECT_FALSE(a.contains(absent)) << absent;
}

TEST(ADSBAircraftTableTest, LaterMessagesKeepValuesTheyDoNotCarry) {
    // A velocity update whose record lacks the callsign (a tracker reset, say) must not erase it.
    ADSBAircraftTable table;
    table.record(update(kVelocity, {.callsign = "EZY85MH"}), t0);
    table.record(update(kVelocity, {.groundSpeed = 150.0}), t0 + 1s);
    const nlohmann::json doc = table.document(t0 + 1s);
    const auto& a = doc["aircraft"][0];
    EXPECT_EQ(a["flight"], "EZY85MH ");
    EXPECT_EQ(a["gs"], 150.0);
    EXPECT_EQ(a["messages"], 2);
}

TEST(ADSBAircraftTableTest, RssiAveragesTheLastEightMeasuredMessages) {
    ADSBAircraftTable table;
    for (int k = 0; k < 8; ++k) table.record(update(kVelocity, {}, 1.0f), t0);
    // Unmeasured messages do not pull the average down.
    table.record(update(kVelocity, {}, 0.0f), t0);
    EXPECT_DOUBLE_EQ(table.document(t0)["aircraft"][0]["rssi"].get<double>(), 0.0);
    // Eight quieter messages push the loud ones out: power 1e-4 is -40 dBFS.
    for (int k = 0; k < 8; ++k) table.record(update(kVelocity, {}, 0.01f), t0);
    EXPECT_DOUBLE_EQ(table.document(t0)["aircraft"][0]["rssi"].get<double>(), -40.0);
}

TEST(ADSBAircraftTableTest, NewestFirstAndSilentAircraftExpire) {
    ADSBAircraftTable table;
    table.record(update(kPositionEven, {}), t0);
    table.record(update(kVelocity, {}), t0 + 10s);
    const nlohmann::json both = table.document(t0 + 20s);
    ASSERT_EQ(both["aircraft"].size(), 2u);
    EXPECT_EQ(both["aircraft"][0]["hex"], "485020");
    EXPECT_EQ(both["aircraft"][1]["hex"], "40621d");
    EXPECT_DOUBLE_EQ(both["aircraft"][1]["seen"].get<double>(), 20.0);

    const nlohmann::json later = table.document(t0 + ADSBAircraftTable::kExpiry);
    ASSERT_EQ(later["aircraft"].size(), 1u);
    EXPECT_EQ(later["aircraft"][0]["hex"], "485020");
    EXPECT_EQ(later["messages"], 2) << "the total counts every message ever recorded";
    EXPECT_EQ(table.aircraftCount(), 1u);
}

TEST(ADSBAircraftTableTest, ClockStepsBackwardsGiveZeroAges) {
    ADSBAircraftTable table;
    table.record(update(kPositionEven, {.latitude = 1.0, .longitude = 2.0}, 0.0f, true), t0 + 5s);
    const nlohmann::json doc = table.document(t0);
    const auto& a = doc["aircraft"][0];
    EXPECT_EQ(a["seen"], 0.0);
    EXPECT_EQ(a["seen_pos"], 0.0);
}
