// Our feeds read by an independent ADS-B decoder: dump1090-mutability, run as a black box.
// Our Beast output is bridged into its Beast input with socat; what it then writes to its own
// aircraft.json and BaseStation port must describe the aircraft we sent, as ours do.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "FeedTestSupport.h"
#include "adsb/ADSBTestFrames.h"
#include "feeds/ADSBFeeds.h"
#include "sim/ADSBEncoder.h"
#include "support/PeerPrograms.h"

namespace {

using namespace peer;

using namespace std::chrono_literals;

constexpr std::uint32_t kICAO = 0x3C6DD2;
constexpr double kLatitudeDeg = 50.0379;
constexpr double kLongitudeDeg = 8.5622;
constexpr int kAltitudeFeet = 24'000;
constexpr double kGroundSpeedKnots = 420.0;
constexpr double kTrackDeg = 75.0;
constexpr int kVerticalRateFpm = 1'536;  // a whole number of 64 ft/min steps

// Polls `check` every 100 ms until it holds or `timeout` passes: the peer runs on its own clock.
bool eventually(const std::function<bool()>& check, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (check()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(100ms);
    }
}

std::optional<nlohmann::json> aircraftIn(const std::filesystem::path& file, const std::string& hex) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    const auto doc = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded() || !doc.contains("aircraft")) return std::nullopt;
    for (const auto& a : doc["aircraft"])
        if (a.value("hex", "") == hex) return a;
    return std::nullopt;
}

bool hasFullTrack(const std::optional<nlohmann::json>& a) {
    return a && a->contains("flight") && a->contains("lat") && a->contains("lon") &&
           (a->contains("alt_baro") || a->contains("altitude")) &&
           (a->contains("gs") || a->contains("speed"));
}

std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Our flight's updates as the tracker hands them over, a second of stream time apart.
class KnownFlight {
public:
    std::vector<ADSBTrackUpdate> nextRound() {
        ADSBAircraft a{.icao = "3C6DD2", .callsign = "DLH4AB", .altitude = kAltitudeFeet,
                       .lastSeen = std::chrono::system_clock::now()};
        std::vector<ADSBTrackUpdate> round;
        const auto add = [&](const ADSBFrameBytes& frame, bool fixed) {
            DecodedADSBMessage m = messageOf(frame);
            m.sampleIndex = 2'048'000 * ++messages;
            m.signalLevel = 0.3f;
            round.push_back({.message = m, .aircraft = a, .positionUpdated = fixed});
        };
        add(ADSBEncoder::identification({.icao = kICAO, .callsign = "DLH4AB"}), false);
        ADSBPositionFields at{.icao = kICAO, .latitudeDeg = kLatitudeDeg,
                              .longitudeDeg = kLongitudeDeg, .altitudeFeet = kAltitudeFeet};
        add(ADSBEncoder::airbornePosition(at), false);
        a.latitude = kLatitudeDeg;
        a.longitude = kLongitudeDeg;
        at.isOdd = true;
        add(ADSBEncoder::airbornePosition(at), true);
        a.groundSpeed = kGroundSpeedKnots;
        a.heading = kTrackDeg;
        a.verticalRate = kVerticalRateFpm;
        add(ADSBEncoder::airborneVelocity({.icao = kICAO, .groundSpeedKnots = kGroundSpeedKnots,
                                           .trackDeg = kTrackDeg, .verticalRateFpm = kVerticalRateFpm}),
            false);
        return round;
    }

private:
    std::uint64_t messages = 0;
};

// The newest values per transmission type from BaseStation lines for one address.
struct BaseStationValues {
    std::string callsign;
    std::optional<double> altitude, latitude, longitude, groundSpeed, track, verticalRate;

    void take(const std::string& line, const std::string& hex) {
        const auto f = commaFields(line);
        if (f.size() != 22 || f[0] != "MSG" || f[4] != hex) return;
        const auto number = [&](int k, std::optional<double>& out) {
            if (!f[k].empty()) out = std::stod(f[k]);
        };
        if (f[1] == "1") callsign = trimmed(f[10]);
        if (f[1] == "3") {
            number(11, altitude);
            number(14, latitude);
            number(15, longitude);
        }
        if (f[1] == "4") {
            number(12, groundSpeed);
            number(13, track);
            number(16, verticalRate);
        }
    }
    bool isComplete() const {
        return !callsign.empty() && altitude && latitude && longitude && groundSpeed && track &&
               verticalRate;
    }
};

}  // namespace

TEST(ADSBFeedsPeerE2ETest, Dump1090ReadsOurBeastFeedAndAgreesWithOurSBSAndJSON) {
    const auto dump1090 = findProgram("dump1090-mutability");
    const auto socat = findProgram("socat");
    if (!dump1090) GTEST_SKIP() << "dump1090-mutability is not installed (apt install dump1090-mutability)";
    if (!socat) GTEST_SKIP() << "socat is not installed (apt install socat)";

    TempFolder temp("vantirel-peer");
    const auto peerJSON = temp.path / "peer-json";
    const auto ourJSON = temp.path / "our-json";
    std::filesystem::create_directories(peerJSON);
    const std::uint16_t peerBeastIn = freeLoopbackPort();
    const std::uint16_t peerSBSOut = freeLoopbackPort();
    // Every other listener of the peer off (port 0), the two we use on loopback only.
    ChildProcess peer(*dump1090,
                      {"--net-only", "--net-bind-address", "127.0.0.1", "--net-bi-port",
                       std::to_string(peerBeastIn), "--net-sbs-port", std::to_string(peerSBSOut),
                       "--net-ri-port", "0", "--net-ro-port", "0", "--net-bo-port", "0",
                       "--net-heartbeat", "0", "--write-json", peerJSON.string(),
                       "--write-json-every", "1", "--quiet"},
                      temp.path / "dump1090.log");
    std::unique_ptr<LoopbackClient> peerSBS;
    ASSERT_TRUE(eventually(
        [&] {
            peerSBS = std::make_unique<LoopbackClient>(peerSBSOut);
            return peerSBS->isConnected();
        },
        10s))
        << "dump1090 did not open its ports:\n" << peer.output();

    ADSBListenerSet listeners;
    ADSBFeeds feeds({.subscribe = [&](ADSBListenerSet::Listener l) { return listeners.add(std::move(l)); },
                     .unsubscribe = [&](int id) { listeners.remove(id); }});
    feeds.apply({.sbsPort = 0, .beastPort = 0, .jsonDir = ourJSON});
    ASSERT_TRUE(feeds.problems().empty()) << feeds.statusText();
    LoopbackClient ourSBS(*feeds.sbsPort());
    ASSERT_TRUE(ourSBS.isConnected());
    ChildProcess bridge(*socat,
                        {"TCP:127.0.0.1:" + std::to_string(*feeds.beastPort()),
                         "TCP:127.0.0.1:" + std::to_string(peerBeastIn)},
                        temp.path / "socat.log");

    // Send rounds until the peer shows the aircraft: frames sent before socat and the servers
    // have connected reach nobody.
    KnownFlight flight;
    const std::string hex = "3c6dd2";
    BaseStationValues peerValues, ourValues;
    const bool seen = eventually(
        [&] {
            for (const auto& u : flight.nextRound()) listeners.notify(u);
            for (const auto& line : peerSBS->receiveLines(64, 10ms)) peerValues.take(line, "3C6DD2");
            for (const auto& line : ourSBS.receiveLines(64, 10ms)) ourValues.take(line, "3C6DD2");
            return hasFullTrack(aircraftIn(peerJSON / "aircraft.json", hex)) &&
                   hasFullTrack(aircraftIn(ourJSON / "aircraft.json", hex)) &&
                   peerValues.isComplete() && ourValues.isComplete();
        },
        15s);
    ASSERT_TRUE(seen) << "dump1090 log:\n" << peer.output() << "\nsocat log:\n" << bridge.output()
                      << "\nfeeds: " << feeds.statusText();

    // The peer decoded our frames into the aircraft we built them from.
    const nlohmann::json theirs = *aircraftIn(peerJSON / "aircraft.json", hex);
    SCOPED_TRACE("dump1090: " + theirs.dump());
    EXPECT_EQ(trimmed(theirs["flight"]), "DLH4AB");
    EXPECT_EQ(theirs.contains("alt_baro") ? theirs["alt_baro"] : theirs["altitude"], kAltitudeFeet);
    // CPR resolution is about 5e-5 degrees.
    EXPECT_NEAR(theirs["lat"].get<double>(), kLatitudeDeg, 1e-4);
    EXPECT_NEAR(theirs["lon"].get<double>(), kLongitudeDeg, 1e-4);
    const double theirSpeed = theirs.contains("gs") ? theirs["gs"].get<double>() : theirs["speed"].get<double>();
    EXPECT_NEAR(theirSpeed, kGroundSpeedKnots, 1.0);  // 1 kt velocity components
    EXPECT_NEAR(theirs["track"].get<double>(), kTrackDeg, 0.5);

    // Our aircraft.json says the same, in the field names tar1090 reads.
    const nlohmann::json ours = *aircraftIn(ourJSON / "aircraft.json", hex);
    SCOPED_TRACE("ours: " + ours.dump());
    EXPECT_EQ(trimmed(ours["flight"]), trimmed(theirs["flight"]));
    EXPECT_EQ(ours["alt_baro"], kAltitudeFeet);
    EXPECT_NEAR(ours["lat"].get<double>(), theirs["lat"].get<double>(), 1e-4);
    EXPECT_NEAR(ours["lon"].get<double>(), theirs["lon"].get<double>(), 1e-4);
    EXPECT_NEAR(ours["gs"].get<double>(), theirSpeed, 1.0);
    EXPECT_NEAR(ours["track"].get<double>(), theirs["track"].get<double>(), 0.5);
    for (const char* field : {"seen", "messages"}) EXPECT_TRUE(ours.contains(field)) << field;
    // The peer's rssi comes from our Beast signal byte, ours from the level itself: they agree
    // to within the byte's step if the byte is scaled the way readers expect.
    ASSERT_TRUE(ours.contains("rssi") && theirs.contains("rssi"));
    EXPECT_NEAR(ours["rssi"].get<double>(), theirs["rssi"].get<double>(), 0.3);

    // And the BaseStation lines it wrote from our frames match the ones we wrote.
    EXPECT_EQ(ourValues.callsign, peerValues.callsign);
    EXPECT_EQ(ourValues.altitude, peerValues.altitude);
    EXPECT_NEAR(*ourValues.latitude, *peerValues.latitude, 1e-4);
    EXPECT_NEAR(*ourValues.longitude, *peerValues.longitude, 1e-4);
    EXPECT_NEAR(*ourValues.groundSpeed, *peerValues.groundSpeed, 1.0);
    EXPECT_NEAR(*ourValues.track, *peerValues.track, 0.5);
    EXPECT_EQ(ourValues.verticalRate, peerValues.verticalRate);
}
