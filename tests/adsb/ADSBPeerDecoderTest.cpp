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

// The simulated sky checked against a decoder from outside the project: dump1090-mutability
// (Debian package), run as a black box on an 8-bit IQ file the emitter renders. Where our
// encoder and a decoder written in this project could share one misreading of the standard,
// a peer decoder that accepts our frames, with their CRC and address overlays, and reads back
// the values we encoded, could not share it. Version 1.15 demodulates 2.4 MS/s only (a 2.0 MS/s
// file yields no frames at all), so the sky is rendered at that rate.
namespace {

constexpr double kPeerRateHz = 2'400'000.0;
constexpr double kPeerClockHz = 12'000'000.0;  // the timestamps of its --mlat output

bool hasPeerDecoder() {
    return std::system("command -v dump1090-mutability > /dev/null 2>&1") == 0;
}

struct PipeCloser {
    void operator()(FILE* f) const noexcept { pclose(f); }
};

std::string runPeerDecoder(const std::filesystem::path& file, const std::string& flags) {
    const std::string command =
        "dump1090-mutability --ifile '" + file.string() + "' " + flags + " 2>/dev/null";
    std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
    std::string out;
    if (!pipe) return out;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) out.append(buffer, n);
    return out;
}

// An 8-bit interleaved IQ file (offset 127.5) in the temporary folder, removed with the object.
class CU8File {
public:
    CU8File(const std::string& name, std::span<const IQSample> iq)
        : path(std::filesystem::temp_directory_path() /
               ("vantirel-" + name + "-" + std::to_string(getpid()) + ".cu8")) {
        write(quantiseToBytes(iq));
    }
    CU8File(const std::string& name, const std::vector<unsigned char>& bytes)
        : path(std::filesystem::temp_directory_path() /
               ("vantirel-" + name + "-" + std::to_string(getpid()) + ".cu8")) {
        write(bytes);
    }
    ~CU8File() { std::filesystem::remove(path); }
    const std::filesystem::path path;

private:
    void write(const std::vector<unsigned char>& bytes) const {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

struct PeerFrame {
    double sample = 0.0;  // its timestamp on our sample clock, before calibration
    std::string hex;
};

// "@" + 12 hex digits of a 12 MHz timestamp + the frame + ";" per line.
std::vector<PeerFrame> parseMlat(const std::string& text) {
    std::vector<PeerFrame> frames;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() < 14 || line[0] != '@') continue;
        const double ticks = static_cast<double>(std::stoull(line.substr(1, 12), nullptr, 16));
        std::string hex = line.substr(13, line.find(';') - 13);
        std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
        frames.push_back({.sample = ticks * kPeerRateHz / kPeerClockHz, .hex = hex});
    }
    return frames;
}

// One decoded frame of the verbose output: the hex line, then "Key:   value" lines.
struct PeerReport {
    std::string hex;
    std::map<std::string, std::string> fields;
};

std::vector<PeerReport> parseVerbose(const std::string& text) {
    std::vector<PeerReport> reports;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] == '*') {
            std::string hex = line.substr(1, line.find(';') - 1);
            std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
            reports.push_back({.hex = hex});
            continue;
        }
        const auto colon = line.find(':');
        if (reports.empty() || colon == std::string::npos || line.rfind("  ", 0) != 0) continue;
        const auto key = line.substr(line.find_first_not_of(' '), colon - line.find_first_not_of(' '));
        const auto start = line.find_first_not_of(' ', colon + 1);
        reports.back().fields[key] = start == std::string::npos ? "" : line.substr(start);
    }
    return reports;
}

int downlinkFormat(const std::string& hex) { return std::stoi(hex.substr(0, 2), nullptr, 16) >> 3; }

enum class FormatClass { extendedSquitter, allCall, surveillance };
FormatClass classOf(int df) {
    return df == 17 ? FormatClass::extendedSquitter : df == 11 ? FormatClass::allCall : FormatClass::surveillance;
}

struct Tally {
    int cleanSent = 0;
    int cleanDelivered = 0;
    int delivered = 0;
    int unmatched = 0;   // no sent frame with these bytes near that time
    int repeated = 0;    // a sent frame delivered a second time
};

}  // namespace

TEST(ADSBPeerDecoderTest, BusySkyFramesAreDeliveredByAPeerDecoder) {
    if (!hasPeerDecoder()) GTEST_SKIP() << "dump1090-mutability is not installed (scripts/install-deps.sh)";
    // 40 aircraft from the noise level to 34 dB above it, 10 s, quantised as the dongle does.
    const ADSBAircraftEmitter emitter(ADSBAircraftEmitter::busySkyConfig(
        7, 40, {.noiseSigma = 0.01f, .weakestLevelDB = 0.0, .strongestLevelDB = 34.0, .sampleRateHz = kPeerRateHz}));
    std::vector<IQSample> iq(static_cast<std::size_t>(10.0 * kPeerRateHz));
    emitter.render(iq, 0);
    const CU8File file("busy-sky", iq);
    const std::vector<PeerFrame> peer = parseMlat(runPeerDecoder(file.path, "--mlat"));
    const auto sent = emitter.framesBetween(0.0, static_cast<double>(iq.size()) - emitter.durationSamples(112));
    ASSERT_GT(peer.size(), 1000u);

    std::multimap<std::string, std::size_t> byHex;
    for (std::size_t n = 0; n < sent.size(); ++n) byHex.emplace(ADSBEncoder::hex(sent[n].bytes, sent[n].bitCount), n);
    // The peer stamps a frame a fixed time after its start; take the median over exact matches.
    std::vector<double> lags;
    for (const PeerFrame& p : peer) {
        const auto [first, last] = byHex.equal_range(p.hex);
        for (auto it = first; it != last; ++it) lags.push_back(p.sample - sent[it->second].startSample);
    }
    ASSERT_FALSE(lags.empty());
    std::nth_element(lags.begin(), lags.begin() + static_cast<std::ptrdiff_t>(lags.size() / 2), lags.end());
    const double lag = lags[lags.size() / 2];

    std::map<FormatClass, Tally> tally;
    std::vector<int> deliveries(sent.size(), 0);
    for (const PeerFrame& p : peer) {
        Tally& t = tally[classOf(downlinkFormat(p.hex))];
        ++t.delivered;
        // The same bytes within a millisecond are one frame: an aircraft repeats a reply no
        // sooner. (Its timestamps scatter by a few samples, now and then by one frame length.)
        std::optional<std::size_t> match;
        const auto [first, last] = byHex.equal_range(p.hex);
        for (auto it = first; it != last; ++it) {
            const double error = std::fabs(p.sample - lag - sent[it->second].startSample);
            if (error < 1e-3 * kPeerRateHz && (!match || deliveries[it->second] < deliveries[*match])) match = it->second;
        }
        if (!match) {
            ++t.unmatched;
            continue;
        }
        if (deliveries[*match]++ > 0) ++t.repeated;
    }
    // Clean: on the air alone and at least 15 dB over the noise, where a decoder should not miss.
    for (std::size_t n = 0; n < sent.size(); ++n) {
        const bool clean = !sent[n].isOverlapped && ADSBAircraftEmitter::levelDBOf(sent[n].amplitude, 0.01f) >= 15.0;
        if (!clean) continue;
        Tally& t = tally[classOf(sent[n].bytes[0] >> 3)];
        ++t.cleanSent;
        t.cleanDelivered += deliveries[n] > 0;
    }
    const struct {
        FormatClass format;
        const char* name;
        double minimumShare;
    } classes[] = {
        {FormatClass::extendedSquitter, "DF17", 0.90},
        {FormatClass::allCall, "DF11", 0.90},
        // The peer takes an address from the parity only for aircraft it already knows.
        {FormatClass::surveillance, "DF4/5/20/21", 0.80},
    };
    for (const auto& c : classes) {
        SCOPED_TRACE(c.name);
        const Tally& t = tally[c.format];
        RecordProperty(std::string(c.name) + " clean sent", t.cleanSent);
        RecordProperty(std::string(c.name) + " clean delivered", t.cleanDelivered);
        RecordProperty(std::string(c.name) + " delivered", t.delivered);
        RecordProperty(std::string(c.name) + " unmatched", t.unmatched);
        RecordProperty(std::string(c.name) + " repeated", t.repeated);
        ASSERT_GT(t.cleanSent, 200);
        EXPECT_GE(t.cleanDelivered, c.minimumShare * t.cleanSent) << t.cleanDelivered << " of " << t.cleanSent;
    }
    EXPECT_EQ(tally[FormatClass::extendedSquitter].repeated, 0) << "each frame once";
    EXPECT_EQ(tally[FormatClass::surveillance].repeated, 0) << "each frame once";
    // The peer now and then reports a DF11 twice, the second time stamped a frame length late.
    EXPECT_LE(tally[FormatClass::allCall].repeated, tally[FormatClass::allCall].delivered / 100);
    EXPECT_EQ(tally[FormatClass::extendedSquitter].unmatched, 0) << "every DF17 it reports was sent";
    EXPECT_EQ(tally[FormatClass::surveillance].unmatched, 0) << "every address it recovers from AP is ours";
    // DF11 carries its interrogator's code in the parity, so a bit error there reads as another
    // interrogator: such reports keep our address but not our bytes. They stay rare.
    EXPECT_LE(tally[FormatClass::allCall].unmatched, tally[FormatClass::allCall].delivered / 100);
}

TEST(ADSBPeerDecoderTest, DemoSkyValuesReadBackThroughAPeerDecoder) {
    if (!hasPeerDecoder()) GTEST_SKIP() << "dump1090-mutability is not installed (scripts/install-deps.sh)";
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(kDemoLatitudeDeg, kDemoLongitudeDeg);
    config.sampleRateHz = kPeerRateHz;
    config.noiseSigma = 0.003f;
    const ADSBAircraftEmitter emitter(config);
    std::vector<IQSample> iq(static_cast<std::size_t>(12.0 * kPeerRateHz));
    emitter.render(iq, 0);
    const CU8File file("demo-sky", iq);
    const std::vector<PeerReport> reports = parseVerbose(runPeerDecoder(file.path, ""));
    const auto sent = emitter.framesBetween(0.0, static_cast<double>(iq.size()));
    std::map<std::string, const ADSBScheduledFrame*> byHex;
    for (const ADSBScheduledFrame& f : sent) byHex.emplace(ADSBEncoder::hex(f.bytes, f.bitCount), &f);

    // Equal bytes encode equal values, so any sent frame with the report's bytes gives the time.
    std::map<std::string, int> checked;
    for (const PeerReport& r : reports) {
        const auto it = byHex.find(r.hex);
        if (it == byHex.end()) continue;
        SCOPED_TRACE(r.hex);
        const ADSBScheduledFrame& f = *it->second;
        const ADSBFlight& flight = config.flights[f.flight];
        const ADSBFlightState state = emitter.stateAt(f.flight, f.startSample / kPeerRateHz);
        const auto field = [&](const char* key) -> std::optional<std::string> {
            const auto v = r.fields.find(key);
            return v == r.fields.end() ? std::nullopt : std::optional(v->second);
        };
        const auto number = [](const std::string& s) { return std::stod(s); };
        if (const auto ident = field("Ident")) {
            EXPECT_EQ(ident->substr(0, ident->find_last_not_of(' ') + 1), flight.callsign);
            ++checked["callsign"];
        }
        if (const auto altitude = field("Altitude")) {
            // 25 ft steps, rounded to the nearest.
            EXPECT_NEAR(number(*altitude), state.altitudeFeet, 12.5 + 1e-6);
            ++checked["altitude"];
        }
        if (const auto squawk = field("Squawk")) {
            char expected[8];
            std::snprintf(expected, sizeof expected, "%04o", static_cast<unsigned>(flight.squawk));
            EXPECT_EQ(*squawk, expected);
            ++checked["squawk"];
        }
        if (field("CPR decoding") == "global") {
            // CPR cells are about 5 m; the decoded point is the cell's.
            EXPECT_NEAR(number(*field("CPR latitude")), state.latitudeDeg, 1e-4);
            EXPECT_NEAR(number(*field("CPR longitude")), state.longitudeDeg, 1e-4);
            ++checked["position"];
        }
        if (const auto heading = field("Heading"); heading && field("Speed")) {
            // East and north components are whole knots: heading within a degree, speed 1 kt.
            EXPECT_NEAR(number(*heading), flight.trackDeg, 1.0);
            EXPECT_NEAR(number(*field("Speed")), flight.groundSpeedKnots, 1.0);
            // 64 ft/min steps. (The peer labels the source bit set for barometric "GNSS".)
            EXPECT_NEAR(number(*field("Vertical rate")), flight.verticalRateFpm, 32.0 + 1e-6);
            ++checked["velocity"];
        }
    }
    for (const char* kind : {"callsign", "altitude", "squawk", "position", "velocity"}) {
        SCOPED_TRACE(kind);
        EXPECT_GE(checked[kind], 5) << "the peer reported too few to compare";
    }
}

TEST(ADSBPeerDecoderTest, DemoSceneThroughTheSimulatedDongleShowsEveryAircraft) {
    if (!hasPeerDecoder()) GTEST_SKIP() << "dump1090-mutability is not installed (scripts/install-deps.sh)";
    // What a user without hardware gets: the demo world, the simulated dongle on 1090 MHz at
    // the reference gain with its receiver noise and 8-bit output, 12 s of it.
    VirtualRtlSdr dongle(makeDemoScene(), {.speed = 0.0});
    RtlSdrApi::Handle handle = nullptr;
    ASSERT_EQ(dongle.open(&handle, 0), 0);
    ASSERT_EQ(dongle.setSampleRate(handle, static_cast<std::uint32_t>(kPeerRateHz)), 0);
    ASSERT_EQ(dongle.setCenterFreq(handle, 1'090'000'000), 0);
    ASSERT_EQ(dongle.setTunerGainMode(handle, 1), 0);
    ASSERT_EQ(dongle.setTunerGain(handle, 229), 0);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(2 * 12.0 * kPeerRateHz));
    for (std::size_t pos = 0; pos < bytes.size(); pos += VirtualRtlSdr::kDefaultBufferBytes) {
        dongle.renderBuffer(std::span(bytes).subspan(pos, std::min<std::size_t>(VirtualRtlSdr::kDefaultBufferBytes, bytes.size() - pos)));
    }
    dongle.close(handle);
    const CU8File file("demo-scene", bytes);
    const std::vector<PeerReport> reports = parseVerbose(runPeerDecoder(file.path, ""));
    std::map<std::string, std::map<std::string, int>> seen;  // address, what was decoded
    for (const PeerReport& r : reports) {
        const auto address = r.fields.find("ICAO Address");
        if (address == r.fields.end()) continue;
        const std::string icao = address->second.substr(0, 6);
        if (r.fields.contains("Ident")) ++seen[icao]["callsign"];
        if (r.fields.contains("CPR decoding") && r.fields.at("CPR decoding") == "global") ++seen[icao]["position"];
        ++seen[icao]["frames"];
    }
    const ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(kDemoLatitudeDeg, kDemoLongitudeDeg);
    for (const ADSBFlight& f : config.flights) {
        char icao[8];
        std::snprintf(icao, sizeof icao, "%06X", f.icao);
        SCOPED_TRACE(icao);
        EXPECT_GE(seen[icao]["callsign"], 1);
        EXPECT_GE(seen[icao]["position"], 3);
        seen.erase(icao);
    }
    EXPECT_TRUE(seen.empty()) << seen.size() << " aircraft that are not in the demo sky";
}
