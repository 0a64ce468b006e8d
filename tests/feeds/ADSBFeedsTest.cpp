#include "feeds/ADSBFeeds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <regex>

#include "FeedTestSupport.h"
#include "adsb/ADSBTestFrames.h"
#include "feeds/FeedTCPServer.h"
#include "sim/ADSBEncoder.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kICAO = 0x4840D6;

ADSBUpdateSource sourceOf(ADSBListenerSet& listeners) {
    return {.subscribe = [&](ADSBListenerSet::Listener l) { return listeners.add(std::move(l)); },
            .unsubscribe = [&](int id) { listeners.remove(id); }};
}

// A known flight's updates as the tracker would hand them over: identification, an even and an
// odd position (the second completes the fix), velocity.
std::vector<ADSBTrackUpdate> knownFlight() {
    ADSBAircraft a{.icao = "4840D6", .lastSeen = std::chrono::system_clock::now()};
    std::vector<ADSBTrackUpdate> updates;
    const auto add = [&](const ADSBFrameBytes& frame, bool fixed) {
        DecodedADSBMessage m = messageOf(frame);
        m.sampleIndex = 2'048'000 * (updates.size() + 1);
        m.signalLevel = 0.2f;
        updates.push_back({.message = m, .aircraft = a, .positionUpdated = fixed});
    };
    a.callsign = "KLM1023";
    add(ADSBEncoder::identification({.icao = kICAO, .callsign = "KLM1023"}), false);
    a.altitude = 38'000;
    const ADSBPositionFields at{.icao = kICAO, .latitudeDeg = 52.2572, .longitudeDeg = 3.9194,
                                .altitudeFeet = 38'000};
    add(ADSBEncoder::airbornePosition(at), false);
    a.latitude = 52.2572;
    a.longitude = 3.9194;
    ADSBPositionFields odd = at;
    odd.isOdd = true;
    add(ADSBEncoder::airbornePosition(odd), true);
    a.groundSpeed = 159.2;
    a.heading = 182.9;
    a.verticalRate = -832;
    add(ADSBEncoder::airborneVelocity({.icao = kICAO, .groundSpeedKnots = 159.2, .trackDeg = 182.9,
                                       .verticalRateFpm = -832}),
        false);
    return updates;
}

// A message from another aircraft, sent until a new client's first line arrives: a broadcast
// before the server took the connection reaches nobody, so a test cannot just send once.
ADSBTrackUpdate probe() {
    DecodedADSBMessage m = messageOf(ADSBEncoder::identification({.icao = 0xABCDEF, .callsign = "PROBE"}));
    return {.message = m, .aircraft = {.icao = m.icao, .callsign = "PROBE"}};
}

// Sent after a test's updates: once it arrives, everything before it has.
ADSBTrackUpdate marker() {
    DecodedADSBMessage m = messageOf(ADSBEncoder::identification({.icao = 0xC0FFEE, .callsign = "MARKER"}));
    return {.message = m, .aircraft = {.icao = m.icao, .callsign = "MARKER"}};
}

ADSBFrameBytes frameFromBytes(const std::vector<std::uint8_t>& bytes) {
    ADSBFrameBytes frame{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), frame.size()), frame.begin());
    return frame;
}

bool primeSBS(ADSBListenerSet& listeners, LoopbackClient& client) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        listeners.notify(probe());
        if (!client.receiveLines(1, 50ms).empty()) return true;
    }
    return false;
}

bool isNumber(const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// A BaseStation record as readers (Virtual Radar Server, PlanePlotter) parse it.
struct BaseStationRecord {
    int transmission = 0;
    std::string hex, callsign;
    std::optional<double> altitude, groundSpeed, track, latitude, longitude, verticalRate;
};

std::optional<BaseStationRecord> parseBaseStation(const std::string& line) {
    const auto f = commaFields(line);
    if (f.size() != 22 || f[0] != "MSG") return std::nullopt;
    static const std::regex date(R"(\d{4}/\d{2}/\d{2})"), time(R"(\d{2}:\d{2}:\d{2}\.\d{3})");
    if (!std::regex_match(f[6], date) || !std::regex_match(f[7], time) ||
        !std::regex_match(f[8], date) || !std::regex_match(f[9], time))
        return std::nullopt;
    if (!std::regex_match(f[4], std::regex("[0-9A-F]{6}"))) return std::nullopt;
    BaseStationRecord r{.transmission = std::stoi(f[1]), .hex = f[4], .callsign = f[10]};
    const auto number = [&](int k, std::optional<double>& out) {
        if (f[k].empty()) return true;
        if (!isNumber(f[k])) return false;
        out = std::stod(f[k]);
        return true;
    };
    if (!number(11, r.altitude) || !number(12, r.groundSpeed) || !number(13, r.track) ||
        !number(14, r.latitude) || !number(15, r.longitude) || !number(16, r.verticalRate))
        return std::nullopt;
    for (int k = 18; k < 22; ++k)
        if (!f[k].empty() && f[k] != "0" && f[k] != "-1") return std::nullopt;
    return r;
}

}  // namespace

TEST(ADSBFeedsTest, SBSClientsGetBaseStationRecordsOfEachUpdate) {
    ADSBListenerSet listeners;
    ADSBFeeds feeds(sourceOf(listeners));
    feeds.apply({.sbsPort = 0});
    ASSERT_TRUE(feeds.sbsPort());
    LoopbackClient client(*feeds.sbsPort());
    ASSERT_TRUE(primeSBS(listeners, client));
    for (const auto& u : knownFlight()) listeners.notify(u);

    std::vector<BaseStationRecord> records;
    while (records.size() < 4) {
        const auto lines = client.receiveLines(1);
        ASSERT_EQ(lines.size(), 1u) << "after " << records.size() << " records";
        const auto record = parseBaseStation(lines[0]);
        ASSERT_TRUE(record) << lines[0];
        if (record->hex != "ABCDEF") records.push_back(*record);
    }
    EXPECT_EQ(records[0].transmission, 1);
    EXPECT_EQ(records[0].callsign, "KLM1023");
    EXPECT_EQ(records[1].transmission, 3);
    EXPECT_EQ(records[1].altitude, 38'000);
    EXPECT_FALSE(records[1].latitude) << "the even half alone gives no fix";
    EXPECT_EQ(records[2].transmission, 3);
    ASSERT_TRUE(records[2].latitude && records[2].longitude);
    EXPECT_NEAR(*records[2].latitude, 52.2572, 1e-5);
    EXPECT_NEAR(*records[2].longitude, 3.9194, 1e-5);
    EXPECT_EQ(records[3].transmission, 4);
    EXPECT_EQ(records[3].groundSpeed, 159.2);
    EXPECT_EQ(records[3].track, 182.9);
    EXPECT_EQ(records[3].verticalRate, -832);
    for (const auto& r : records) EXPECT_EQ(r.hex, "4840D6");
}

TEST(ADSBFeedsTest, BeastClientsGetEveryFrameWithItsStreamTime) {
    ADSBListenerSet listeners;
    ADSBFeeds feeds(sourceOf(listeners));
    feeds.apply({.beastPort = 0});
    ASSERT_TRUE(feeds.beastPort());
    LoopbackClient client(*feeds.beastPort());
    // Prime with the probe until a frame arrives (23 bytes, the probe frame has no 0x1a byte).
    bool primed = false;
    for (int attempt = 0; attempt < 100 && !primed; ++attempt) {
        listeners.notify(probe());
        primed = !client.receive(23, 50ms).empty();
    }
    ASSERT_TRUE(primed);
    const auto flight = knownFlight();
    for (const auto& u : flight) listeners.notify(u);
    listeners.notify(marker());

    std::string stream;
    std::vector<BeastRecord> records;
    while (records.empty() || records.back().payload[1] != 0xC0) {
        const std::string more = client.receive(1, 5s);
        ASSERT_FALSE(more.empty());
        stream += more;
        records = readBeastStream(stream);
    }
    std::erase_if(records, [](const BeastRecord& r) { return r.payload[1] != 0x48; });
    ASSERT_EQ(records.size(), flight.size());
    for (std::size_t k = 0; k < flight.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(records[k].type, '3');
        EXPECT_EQ(records[k].ticks, 12'000'000u * (k + 1)) << "one second of samples apart";
        EXPECT_EQ(records[k].signal, 51);  // 0.2 of full scale
        EXPECT_EQ(bitsOf(frameFromBytes(records[k].payload)), flight[k].message.rawBits);
    }
}

TEST(ADSBFeedsTest, PortInUseIsReportedAndTheOtherFeedsRun) {
    TempFolder temp("vantirel-feeds");
    auto squatter = std::make_unique<FeedTCPServer>(FeedTCPServerConfig{});
    const std::uint16_t taken = squatter->port();
    ADSBListenerSet listeners;
    ADSBFeeds feeds(sourceOf(listeners));
    const ADSBFeedSettings wanted{.sbsPort = taken, .beastPort = 0, .jsonDir = temp.path};
    feeds.apply(wanted);

    EXPECT_FALSE(feeds.sbsPort());
    ASSERT_TRUE(feeds.beastPort());
    EXPECT_TRUE(feeds.isWritingJSON());
    const auto problems = feeds.problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], "SBS: port " + std::to_string(taken) + " on 127.0.0.1 is already in use");
    const std::string status = feeds.statusText();
    EXPECT_NE(status.find(problems[0]), std::string::npos) << status;
    EXPECT_NE(status.find("Beast :" + std::to_string(*feeds.beastPort())), std::string::npos) << status;
    EXPECT_NE(status.find("JSON " + temp.path.string()), std::string::npos) << status;

    // Once the port is free, applying the same settings again opens it.
    squatter.reset();
    feeds.apply(wanted);
    EXPECT_EQ(feeds.sbsPort(), taken);
    EXPECT_TRUE(feeds.problems().empty());
}

TEST(ADSBFeedsTest, ChangingOneFeedLeavesTheOthersAndTheirClientsAlone) {
    TempFolder temp("vantirel-feeds");
    ADSBListenerSet listeners;
    ADSBFeeds feeds(sourceOf(listeners));
    feeds.apply({.sbsPort = 0});
    const std::uint16_t port = *feeds.sbsPort();
    LoopbackClient client(port);
    ASSERT_TRUE(primeSBS(listeners, client));

    feeds.apply({.sbsPort = port, .jsonDir = temp.path});
    EXPECT_TRUE(feeds.isWritingJSON());
    feeds.apply({.sbsPort = port, .beastPort = 0});
    EXPECT_FALSE(feeds.isWritingJSON());
    listeners.notify(knownFlight()[0]);
    for (;;) {
        const auto lines = client.receiveLines(1);
        ASSERT_FALSE(lines.empty()) << "the SBS connection was closed by changes to other feeds";
        if (lines[0].find("KLM1023") != std::string::npos) break;
    }
}

TEST(ADSBFeedsTest, ListenerIsHeldOnlyWhileAFeedRuns) {
    ADSBListenerSet listeners;
    ADSBFeeds feeds(sourceOf(listeners));
    EXPECT_TRUE(listeners.empty());
    EXPECT_EQ(feeds.statusText(), "Feeds off");
    feeds.apply({.beastPort = 0});
    EXPECT_FALSE(listeners.empty());
    feeds.stop();
    EXPECT_TRUE(listeners.empty());
    EXPECT_EQ(feeds.statusText(), "Feeds off");
}

TEST(ADSBFeedsTest, ListenerRunningLateAfterTheFeedsAreGoneIsHarmless) {
    // The listener set calls a copy of each listener outside its lock, so one may still run
    // after removal. Keep that copy and call it once the feeds are destroyed.
    ADSBListenerSet::Listener kept;
    {
        ADSBFeeds feeds({.subscribe = [&](ADSBListenerSet::Listener l) {
                             kept = std::move(l);
                             return 1;
                         },
                         .unsubscribe = [](int) {}});
        TempFolder temp("vantirel-feeds");
        feeds.apply({.sbsPort = 0, .beastPort = 0, .jsonDir = temp.path});
    }
    ASSERT_TRUE(kept);
    for (const auto& u : knownFlight()) kept(u);
}

TEST(ADSBFeedsTest, UnusableFolderIsReported) {
    TempFolder temp("vantirel-feeds");
    std::ofstream(temp.path / "file") << "x";
    ADSBListenerSet listeners;
    ADSBFeeds feeds(sourceOf(listeners));
    feeds.apply({.jsonDir = temp.path / "file" / "json"});
    EXPECT_FALSE(feeds.isWritingJSON());
    ASSERT_EQ(feeds.problems().size(), 1u);
    EXPECT_EQ(feeds.problems()[0].rfind("JSON: cannot use ", 0), 0u) << feeds.problems()[0];
}
