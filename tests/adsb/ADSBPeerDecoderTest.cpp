#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/ADSBAircraftEmitter.h"
#include "sim/DemoScene.h"
#include "sim/SimQuantise.h"
#include "sim/VirtualRtlSdr.h"

// The simulated sky against a decoder from outside the project: dump1090-mutability (Debian
// package) run as a black box on 8-bit IQ files. Our encoder and a decoder written here could
// share a misreading of the standard; a peer that accepts our frames with their parity and
// address overlays, and reads back the values we encoded, does not share it. Its version 1.15
// demodulates 2.4 MS/s only (a 2.0 MS/s file gives no frames at all), so skies are rendered so.
namespace {

constexpr double kPeerRateHz = 2'400'000.0;

bool hasPeer() {
    return std::system("command -v dump1090-mutability > /dev/null 2>&1") == 0;
}

// Writes the bytes to a temporary .cu8 file, runs the peer on it and returns what it prints.
std::string runPeer(const std::string& name, const std::vector<unsigned char>& bytes,
                    const std::string& flags) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("vantirel-" + name + "-" + std::to_string(getpid()) + ".cu8");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const std::string command =
        "dump1090-mutability --ifile '" + path.string() + "' " + flags + " 2>/dev/null";
    const auto closer = [](FILE* f) { pclose(f); };
    std::unique_ptr<FILE, decltype(closer)> pipe(popen(command.c_str(), "r"), closer);
    std::string out;
    char buffer[65536];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        out.append(buffer, n);
    pipe.reset();
    std::filesystem::remove(path);
    return out;
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// Verbose output: "*<hex>;" opens a report, then "  Key:   value" lines.
using PeerReport = std::map<std::string, std::string>;  // "hex" and the fields
std::vector<PeerReport> parseReports(const std::string& text) {
    std::vector<PeerReport> reports;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with('*'))
            reports.push_back({{"hex", upper(line.substr(1, line.find(';') - 1))}});
        const auto colon = line.find(':');
        if (reports.empty() || !line.starts_with("  ") || colon == std::string::npos) continue;
        const auto key = line.find_first_not_of(' ');
        const auto value = line.find_first_not_of(' ', colon + 1);
        reports.back()[line.substr(key, colon - key)] =
            value == std::string::npos ? "" : line.substr(value);
    }
    return reports;
}

}  // namespace

TEST(ADSBPeerDecoderTest, BusySkyFramesAreDeliveredByAPeerDecoder) {
    if (!hasPeer())
        GTEST_SKIP() << "dump1090-mutability is not installed (scripts/install-deps.sh)";
    // 40 aircraft from the noise level to 34 dB over it, 10 s, quantised as the dongle does.
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(
        7, 40, {.noiseSigma = 0.01f, .strongestLevelDB = 34.0, .sampleRateHz = kPeerRateHz}));
    std::vector<IQSample> iq(static_cast<std::size_t>(10.0 * kPeerRateHz));
    emitter.render(iq, 0);
    // --mlat prints "@" + a 12 MHz timestamp (12 hex digits) + the frame + ";" per line.
    std::vector<std::pair<double, std::string>> peer;
    std::istringstream lines(runPeer("busy-sky", quantiseToBytes(iq), "--mlat"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with('@') || line.size() < 14) continue;
        peer.emplace_back(
            static_cast<double>(std::stoull(line.substr(1, 12), nullptr, 16)) * kPeerRateHz / 12e6,
            upper(line.substr(13, line.find(';') - 13)));
    }
    ASSERT_GT(peer.size(), 1000u);
    const auto sent =
        emitter.framesBetween(0.0, static_cast<double>(iq.size()) - emitter.durationSamples(112));
    std::multimap<std::string, std::size_t> byHex;
    for (std::size_t n = 0; n < sent.size(); ++n)
        byHex.emplace(ADSBEncoder::hex(sent[n].bytes, sent[n].bitCount), n);

    // The peer stamps a frame a fixed time after its start: the median lag over equal bytes.
    std::vector<double> lags;
    for (const auto& [sample, hex] : peer) {
        for (auto [it, last] = byHex.equal_range(hex); it != last; ++it)
            lags.push_back(sample - sent[it->second].startSample);
    }
    ASSERT_FALSE(lags.empty());
    std::nth_element(lags.begin(), lags.begin() + static_cast<std::ptrdiff_t>(lags.size() / 2),
                     lags.end());
    const double lag = lags[lags.size() / 2];

    // Per class of format: clean frames sent and delivered, reports, unmatched and repeated ones.
    enum { es, allCall, surveillance };
    const auto classOf = [](int df) { return df == 17 ? es : df == 11 ? allCall : surveillance; };
    struct Tally {
        int cleanSent = 0, cleanDelivered = 0, reports = 0, unmatched = 0, repeated = 0;
    } tally[3];
    std::vector<int> deliveries(sent.size(), 0);
    for (const auto& [sample, hex] : peer) {
        Tally& t = tally[classOf(std::stoi(hex.substr(0, 2), nullptr, 16) >> 3)];
        ++t.reports;
        // Equal bytes within a millisecond are one frame: an aircraft never repeats a reply
        // that soon. (The stamps scatter by a few samples, now and then by a frame length.)
        std::optional<std::size_t> match;
        for (auto [it, last] = byHex.equal_range(hex); it != last; ++it) {
            const bool near =
                std::fabs(sample - lag - sent[it->second].startSample) < 1e-3 * kPeerRateHz;
            if (near && (!match || deliveries[it->second] < deliveries[*match])) match = it->second;
        }
        if (!match) ++t.unmatched;
        if (match && deliveries[*match]++ > 0) ++t.repeated;
    }
    // Clean: alone on the air and 15 dB or more over the noise, where a decoder should not miss.
    for (std::size_t n = 0; n < sent.size(); ++n) {
        if (sent[n].isOverlapped || ADSBAircraftEmitter::levelDBOf(sent[n].amplitude, 0.01f) < 15.0)
            continue;
        Tally& t = tally[classOf(sent[n].bytes[0] >> 3)];
        ++t.cleanSent;
        t.cleanDelivered += deliveries[n] > 0;
    }
    // The peer recovers an address from AP only for aircraft it already knows: a lower bar.
    const char* names[] = {"DF17", "DF11", "DF4/5/20/21"};
    const double shares[] = {0.90, 0.90, 0.80};
    for (int c : {es, allCall, surveillance}) {
        SCOPED_TRACE(names[c]);
        const Tally& t = tally[c];
        for (const auto& [what, value] : {std::pair{"clean sent", t.cleanSent},
                                          {"clean delivered", t.cleanDelivered},
                                          {"reports", t.reports},
                                          {"unmatched", t.unmatched},
                                          {"repeated", t.repeated}}) {
            RecordProperty(std::string(names[c]) + " " + what, value);
        }
        ASSERT_GT(t.cleanSent, 200);
        EXPECT_GE(t.cleanDelivered, shares[c] * t.cleanSent)
            << t.cleanDelivered << " of " << t.cleanSent;
    }
    EXPECT_EQ(tally[es].unmatched, 0) << "every DF17 it reports was sent";
    EXPECT_EQ(tally[es].repeated, 0) << "and delivered once";
    EXPECT_EQ(tally[surveillance].unmatched, 0) << "every address it recovers from AP is ours";
    EXPECT_EQ(tally[surveillance].repeated, 0);
    // A DF11 carries its interrogator's code over the parity, so a bit error there reads as
    // another interrogator (our address, not our bytes); and the peer now and then reports a
    // DF11 twice, the second time a frame length late. Both stay rare.
    EXPECT_LE(tally[allCall].unmatched + tally[allCall].repeated, tally[allCall].reports / 50);
}

TEST(ADSBPeerDecoderTest, DemoSceneThroughTheSimulatedDongleReadsBackItsValues) {
    if (!hasPeer())
        GTEST_SKIP() << "dump1090-mutability is not installed (scripts/install-deps.sh)";
    // What a user without hardware gets: the demo world through the simulated dongle on 1090 MHz
    // at the reference gain, with its receiver noise and 8-bit output, for 12 s. The schedule is
    // a function of time alone, so the demo sky built at the same rate lists what was sent.
    VirtualRtlSdr dongle(makeDemoScene(), {.speed = 0.0});
    RtlSdrApi::Handle handle = nullptr;
    ASSERT_EQ(dongle.open(&handle, 0), 0);
    ASSERT_EQ(dongle.setSampleRate(handle, static_cast<std::uint32_t>(kPeerRateHz)), 0);
    ASSERT_EQ(dongle.setCenterFreq(handle, 1'090'000'000), 0);
    ASSERT_EQ(dongle.setTunerGainMode(handle, 1), 0);
    ASSERT_EQ(dongle.setTunerGain(handle, 229), 0);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(2 * 12.0 * kPeerRateHz));
    for (std::size_t pos = 0; pos < bytes.size(); pos += VirtualRtlSdr::kDefaultBufferBytes) {
        dongle.renderBuffer(std::span(bytes).subspan(
            pos, std::min<std::size_t>(VirtualRtlSdr::kDefaultBufferBytes, bytes.size() - pos)));
    }
    dongle.close(handle);
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(kDemoLatitudeDeg, kDemoLongitudeDeg);
    config.sampleRateHz = kPeerRateHz;
    const ADSBAircraftEmitter emitter(config);
    std::map<std::string, const ADSBScheduledFrame*> byHex;
    const auto sent = emitter.framesBetween(0.0, 12.0 * kPeerRateHz);
    for (const ADSBScheduledFrame& f : sent)
        byHex.emplace(ADSBEncoder::hex(f.bytes, f.bitCount), &f);

    std::map<std::string, std::map<std::string, int>> seen;  // address, what was compared
    for (PeerReport& r : parseReports(runPeer("demo-scene", bytes, ""))) {
        if (!r.contains("ICAO Address")) continue;
        auto& aircraft = seen[r["ICAO Address"].substr(0, 6)];
        const auto it = byHex.find(r["hex"]);
        if (it == byHex.end()) continue;
        SCOPED_TRACE(r["hex"]);
        // Equal bytes encode equal values, so any sent frame with these bytes gives the time.
        const ADSBFlight& flight = config.flights[it->second->flight];
        const ADSBFlightState state =
            emitter.stateAt(it->second->flight, it->second->startSample / kPeerRateHz);
        const auto number = [&](const char* key) { return std::stod(r[key]); };
        if (r.contains("Ident")) {
            EXPECT_EQ(r["Ident"].substr(0, r["Ident"].find(' ')), flight.callsign);
            ++aircraft["callsign"];
        }
        if (r.contains("Altitude")) {
            EXPECT_NEAR(number("Altitude"), state.altitudeFeet, 12.5 + 1e-6) << "25 ft steps";
            ++aircraft["altitude"];
        }
        if (r.contains("Squawk")) {
            char squawk[8];
            std::snprintf(squawk, sizeof squawk, "%04o", static_cast<unsigned>(flight.squawk));
            EXPECT_EQ(r["Squawk"], squawk);
            ++aircraft["squawk"];
        }
        if (r["CPR decoding"] == "global") {
            EXPECT_NEAR(number("CPR latitude"), state.latitudeDeg, 1e-4) << "5 m CPR cells";
            EXPECT_NEAR(number("CPR longitude"), state.longitudeDeg, 1e-4);
            ++aircraft["position"];
        }
        if (r.contains("Heading") && r.contains("Speed")) {
            // Whole-knot east and north components; 64 ft/min steps. (The peer labels the
            // source bit that DO-260 sets for barometric "GNSS"; only the value is compared.)
            EXPECT_NEAR(number("Heading"), flight.trackDeg, 1.0);
            EXPECT_NEAR(number("Speed"), flight.groundSpeedKnots, 1.0);
            EXPECT_NEAR(number("Vertical rate"), flight.verticalRateFpm, 32.0 + 1e-6);
            ++aircraft["velocity"];
        }
    }
    for (const ADSBFlight& f : config.flights) {
        char icao[8];
        std::snprintf(icao, sizeof icao, "%06X", f.icao);
        for (const char* kind : {"callsign", "altitude", "squawk", "position", "velocity"}) {
            EXPECT_GE(seen[icao][kind], 1) << icao << " " << kind;
        }
        EXPECT_GE(seen[icao]["position"], 3) << icao;
        seen.erase(icao);
    }
    EXPECT_TRUE(seen.empty()) << seen.size() << " aircraft that are not in the demo sky";
}
