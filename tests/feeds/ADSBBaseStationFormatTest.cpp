#include "feeds/ADSBBaseStationFormat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "FeedTestSupport.h"
#include "adsb/ADSBTestFrames.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

// 2023-11-14 22:13:20.250 UTC, and the line logged half a second later.
const Clock::time_point kHeard = Clock::time_point(1'700'000'000'250ms);
const Clock::time_point kLogged = kHeard + 500ms;

void setBits(DecodedADSBMessage& m, int first, int count, std::uint32_t value) {
    for (int k = 0; k < count; ++k)
        m.rawBits[static_cast<std::size_t>(first + k)] = (value >> (count - 1 - k)) & 1u;
}

ADSBTrackUpdate updateFor(const std::string& hexFrame, ADSBAircraft aircraft, bool positionUpdated = false) {
    DecodedADSBMessage m = messageOf(frameFromHex(hexFrame));
    aircraft.icao = m.icao;
    aircraft.id = m.icao;
    aircraft.lastSeen = kHeard;
    return {.message = m, .aircraft = aircraft, .positionUpdated = positionUpdated};
}

std::vector<std::string> fieldsOf(const ADSBTrackUpdate& update) {
    const auto line = baseStationLine(update, kLogged);
    if (!line) return {};
    EXPECT_TRUE(line->ends_with("\r\n"));
    return commaFields(line->substr(0, line->size() - 2));
}

void expectEmpty(const std::vector<std::string>& fields, std::initializer_list<int> indices) {
    for (const int k : indices) EXPECT_EQ(fields[k], "") << "field " << k + 1;
}

// The lines carry local time, as BaseStation's do; the tests pin it to UTC.
class ADSBBaseStationFormatTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (const char* tz = std::getenv("TZ")) savedTZ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    static void TearDownTestSuite() {
        if (savedTZ)
            setenv("TZ", savedTZ->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static inline std::optional<std::string> savedTZ;
};

}  // namespace

TEST_F(ADSBBaseStationFormatTest, IdentificationLineCarriesTheCallsign) {
    const auto f = fieldsOf(updateFor(kIdentificationKLM1023, {.callsign = "KLM1023"}));
    ASSERT_EQ(f.size(), 22u);
    EXPECT_EQ(f[0], "MSG");
    EXPECT_EQ(f[1], "1");
    EXPECT_EQ(f[4], "4840D6");
    EXPECT_EQ(f[6], "2023/11/14");
    EXPECT_EQ(f[7], "22:13:20.250");
    EXPECT_EQ(f[8], "2023/11/14");
    EXPECT_EQ(f[9], "22:13:20.750");
    EXPECT_EQ(f[10], "KLM1023");
    expectEmpty(f, {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21});
}

TEST_F(ADSBBaseStationFormatTest, PositionLineGivesAltitudeAndTheNewFixOnly) {
    // The published even frame codes 38,000 ft; the record holds the pair's decoded fix.
    const ADSBAircraft known{.altitude = 38'000, .latitude = 52.2572047, .longitude = 3.9193726};
    const auto fixed = fieldsOf(updateFor(kPositionEven, known, /*positionUpdated=*/true));
    ASSERT_EQ(fixed.size(), 22u);
    EXPECT_EQ(fixed[1], "3");
    EXPECT_EQ(fixed[4], "40621D");
    EXPECT_EQ(fixed[11], "38000");
    EXPECT_EQ(fixed[14], "52.25720");
    EXPECT_EQ(fixed[15], "3.91937");
    EXPECT_EQ(fixed[18], "0");  // alert
    EXPECT_EQ(fixed[19], "0");  // emergency
    EXPECT_EQ(fixed[20], "0");  // SPI
    EXPECT_EQ(fixed[21], "0");  // on ground: TC 9-18 are airborne
    expectEmpty(fixed, {10, 12, 13, 16, 17});

    // A message that did not complete a pair must not repeat the old fix as if new.
    const auto altitudeOnly = fieldsOf(updateFor(kPositionEven, known, /*positionUpdated=*/false));
    ASSERT_EQ(altitudeOnly.size(), 22u);
    EXPECT_EQ(altitudeOnly[11], "38000");
    expectEmpty(altitudeOnly, {14, 15});

    // Nor an old altitude when this message's altitude field is zero ("no altitude").
    ADSBTrackUpdate noAltitude = updateFor(kPositionEven, known);
    setBits(noAltitude.message, 40, 12, 0);
    EXPECT_EQ(fieldsOf(noAltitude)[11], "");
}

TEST_F(ADSBBaseStationFormatTest, PositionLineFlagsFollowSurveillanceStatus) {
    struct Case {
        std::uint32_t status;  // ME bits 6-7
        const char* alert;
        const char* emergency;
        const char* spi;
    };
    const Case cases[] = {{0, "0", "0", "0"}, {1, "0", "-1", "0"}, {2, "-1", "0", "0"}, {3, "0", "0", "-1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ADSBTrackUpdate update = updateFor(kPositionEven, {.altitude = 38'000});
        setBits(update.message, 37, 2, c.status);
        const auto f = fieldsOf(update);
        ASSERT_EQ(f.size(), 22u);
        EXPECT_EQ(f[18], c.alert);
        EXPECT_EQ(f[19], c.emergency);
        EXPECT_EQ(f[20], c.spi);
    }
}

TEST_F(ADSBBaseStationFormatTest, VelocityLineGivesSpeedTrackAndRate) {
    // Published ground-speed example: 159.2 kt, 182.88 deg, -832 ft/min.
    const ADSBAircraft known{.groundSpeed = 159.20, .heading = 182.88, .verticalRate = -832};
    const auto f = fieldsOf(updateFor(kVelocity, known));
    ASSERT_EQ(f.size(), 22u);
    EXPECT_EQ(f[1], "4");
    EXPECT_EQ(f[4], "485020");
    EXPECT_EQ(f[12], "159.2");
    EXPECT_EQ(f[13], "182.9");
    EXPECT_EQ(f[16], "-832");
    expectEmpty(f, {10, 11, 14, 15, 17, 18, 19, 20, 21});

    // Subtype 3 gives airspeed and heading, which are not ground speed and track.
    ADSBTrackUpdate airspeed = updateFor(kVelocity, known);
    setBits(airspeed.message, 37, 3, 3);
    const auto a = fieldsOf(airspeed);
    ASSERT_EQ(a.size(), 22u);
    expectEmpty(a, {12, 13});
    EXPECT_EQ(a[16], "-832");
}

TEST_F(ADSBBaseStationFormatTest, OtherTypeCodesMakeNoLine) {
    for (const int typeCode : {0, 5, 8, 20, 22, 23, 28, 29, 31}) {
        SCOPED_TRACE(typeCode);
        ADSBTrackUpdate update = updateFor(kPositionEven, {});
        update.message.typeCode = typeCode;
        EXPECT_FALSE(baseStationLine(update, kLogged).has_value());
    }
}

TEST_F(ADSBBaseStationFormatTest, GeneratedTimeIsTheRecordsOrTheLogTime) {
    struct Case {
        Clock::time_point lastSeen;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        // Milliseconds are floored, never rounded into the next second.
        {Clock::time_point(1'700'000'000'999'999us), "2023/11/14", "22:13:20.999"},
        // A record never stamped would say 1970: the log time stands in.
        {Clock::time_point{}, "2023/11/14", "22:13:20.750"},
    };
    for (const Case& c : cases) {
        ADSBTrackUpdate update = updateFor(kIdentificationKLM1023, {.callsign = "KLM1023"});
        update.aircraft.lastSeen = c.lastSeen;
        const auto f = fieldsOf(update);
        ASSERT_EQ(f.size(), 22u);
        EXPECT_EQ(f[6], c.date);
        EXPECT_EQ(f[7], c.time);
    }
}
