// vantirel-cli: the receiver without a window; one JSON object per line on standard output.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "CliArgs.h"
#include "CliSession.h"
#include "control/ControllerJSON.h"
#include "aprs/APRSDecoder.h"
#include "audio/AudioFileReader.h"
#include "audio/AudioRecorder.h"
#include "device/RtlTcpServer.h"
#include "dsp/AudioResampler.h"
#include "feeds/ADSBFeeds.h"
#include "feeds/KISSServer.h"
#include "platform/DebugLog.h"
#include "platform/UserPaths.h"
#include "rds/RDSJSON.h"

namespace {

nlohmann::json statusLine(CliSession& session, double samplesPerSecond) {
    nlohmann::json j = controllerStatusJSON(session.controller());
    j["samplesPerSecond"] = samplesPerSecond;
    j["source"] = session.source().description;
    return j;
}

double requiredMHz(const CliArgs& args, const char* command) {
    const std::optional<double> mhz = args.number("mhz");
    if (!mhz) throw std::invalid_argument(std::string(command) + " needs --mhz F");
    if (*mhz <= 0) throw std::invalid_argument("--mhz must be positive");
    return *mhz;
}

int runStatus(const CliArgs& args) {
    const double mhz = requiredMHz(args, "status");
    CliSession session(args, /*playsSound=*/false);
    SDRController& c = session.controller();
    c.tune(mhz, true);
    c.start();
    session.run([&](double samplesPerSecond) { printJSONLine(statusLine(session, samplesPerSecond)); });
    return c.isRunning ? 0 : 1;
}

// The WAV receives exactly the audio of the signal processed (--seconds of it when given),
// straight from the receiver rather than from the paced sound device.
class ListenWavWriter {
public:
    ListenWavWriter(const std::string& path, double rateHz, std::optional<double> seconds)
        : recorder(std::make_shared<AudioRecorder>(path, rateHz, 2)),
          maxFrames(seconds ? static_cast<std::uint64_t>(std::llround(*seconds * rateHz))
                            : UINT64_MAX) {
        if (recorder->hasFailed()) throw std::runtime_error("cannot write " + path);
    }
    // Runs on the processing thread.
    AudioTap tap() {
        return [recorder = recorder, maxFrames = maxFrames, frames = std::uint64_t{0}](
                   std::span<const float> left, std::span<const float> right) mutable {
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(left.size(), maxFrames - frames));
            if (n == 0) return;
            recorder->write(left.first(n), right.first(std::min(n, right.size())));
            frames += n;
        };
    }
    void close() { recorder->close(); }

private:
    std::shared_ptr<AudioRecorder> recorder;
    std::uint64_t maxFrames;
};

int runListen(const CliArgs& args) {
    const double mhz = requiredMHz(args, "listen");
    const std::string modeText = args.text("mode").value_or("fm");
    if (modeText != "fm" && modeText != "am") throw std::invalid_argument("--mode is fm or am");
    std::optional<ListenWavWriter> wav;
    if (const std::optional<std::string> wavPath = args.text("wav"))
        wav.emplace(*wavPath, 51'200.0, args.seconds);
    CliSession session(args, /*playsSound=*/true, wav ? wav->tap() : AudioTap{});
    SDRController& c = session.controller();
    c.mode = modeText == "am" ? DemodMode::am : DemodMode::fm;
    c.stereoEnabled = args.hasFlag("stereo");
    c.tune(mhz, true);
    c.start();
    c.setIsNarrowbandFM(args.hasFlag("nbfm"));
    if (!c.isRunning) {
        printJSONLine(statusLine(session, 0));
        return 1;
    }
    if (!c.audioOutputAvailable) {
        std::fprintf(stderr, "vantirel-cli: no sound device (%s); listening without sound\n",
                     c.audioOutputProblem.value_or("").c_str());
    }

    if (args.hasFlag("rds-json")) {
        // Only the group lines go to standard output, so RDS tools can read it as it is.
        const int listener = c.addRDSGroupListener(
            [queue = &session.queue()](const RDSGroupReport& group, const RDSProgrammeInfo& station) {
                queue->post([line = rdsGroupJSON(group, station)] {
                    std::fwrite(line.data(), 1, line.size(), stdout);
                    std::fputc('\n', stdout);
                    std::fflush(stdout);
                });
            });
        session.run([](double) {});
        c.removeRDSGroupListener(listener);
        c.stop();
        if (wav) wav->close();
        return 0;
    }
    nlohmann::json lastRDS = rdsJSON(c);
    session.run([&](double samplesPerSecond) {
        nlohmann::json rds = rdsJSON(c);
        if (rds != lastRDS) {
            printJSONLine({{"rds", rds}});
            lastRDS = std::move(rds);
        }
        printJSONLine(statusLine(session, samplesPerSecond));
    });
    // Stopping lets the block in flight reach the file before it is closed.
    c.stop();
    if (wav) wav->close();
    return 0;
}

int runScan(const CliArgs& args) {
    const std::string bandName = args.text("band").value_or("FM Broadcast");
    const auto& bands = BandDefinition::allBands();
    const auto it = std::find_if(bands.begin(), bands.end(),
                                 [&](const BandDefinition& b) { return b.name == bandName; });
    if (it == bands.end()) {
        std::string names;
        for (const BandDefinition& b : bands) names += "\n  " + b.name;
        throw std::invalid_argument("unknown band '" + bandName + "'; bands:" + names);
    }
    BandDefinition band = *it;
    if (const auto from = args.number("from")) band.startMHz = *from;
    if (const auto to = args.number("to")) band.endMHz = *to;
    if (band.endMHz < band.startMHz) throw std::invalid_argument("--to is below --from");

    CliSession session(args, /*playsSound=*/false);
    SDRController& c = session.controller();
    c.mode = band.suggestedMode;
    c.setIsNarrowbandFM(band.isNarrowbandFM);
    c.tune(band.startMHz, true);
    c.start();
    if (!c.isRunning) {
        printJSONLine(statusLine(session, 0));
        return 1;
    }
    c.startScan(band);
    std::size_t printed = 0;
    const auto printNew = [&] {
        for (; printed < c.foundStations.size(); ++printed)
            printJSONLine({{"foundStation", foundStationJSON(c.foundStations[printed])}});
    };
    // A scan takes at least 60 ms of signal per step plus up to 3 s per named station.
    const double budget = session.signalSecondsLeft();
    session.runUntil(
        [&] {
            printNew();
            return !c.isScanning;
        },
        budget);
    if (c.isScanning) c.stopScan();
    session.runUntil([&] { return !c.isScanning; }, 10.0);
    printNew();
    nlohmann::json list = nlohmann::json::array();
    for (const FoundStation& s : c.foundStations) list.push_back(foundStationJSON(s));
    printJSONLine({{"scanBandName", band.name}, {"foundStations", list}});
    return 0;
}

nlohmann::json dabResultsJSON(const SDRController& c) {
    nlohmann::json list = nlohmann::json::array();
    for (const DABScanResult& r : c.dabResults) list.push_back(dabScanResultJSON(r));
    return list;
}

// The stream's figures as they change: the ensemble when it grows, the FIC figures each second.
class DABPrinter {
public:
    void print(const SDRController& c) {
        nlohmann::json ensemble = dabEnsembleJSON(c);
        if (ensemble != lastEnsemble && !c.dabEnsembleLabel.empty()) {
            printJSONLine(ensemble);
            lastEnsemble = std::move(ensemble);
        }
        nlohmann::json programme = {{"dabDynamicLabel", optionalJSON(c.dabDynamicLabel)},
                                    {"dabDLPlusArtist", optionalJSON(c.dabDLPlusArtist)},
                                    {"dabDLPlusTitle", optionalJSON(c.dabDLPlusTitle)},
                                    {"dabSlideshowCount", c.dabSlideshowCount}};
        if (programme != lastProgramme) {
            printJSONLine(programme);
            lastProgramme = std::move(programme);
        }
        if (c.dabLogoPaths.size() != logosPrinted) {
            logosPrinted = c.dabLogoPaths.size();
            nlohmann::json logos = nlohmann::json::object();
            for (const auto& [sid, path] : c.dabLogoPaths) logos[formatString("%04X", sid)] = path.string();
            printJSONLine({{"dabLogoPaths", logos}});
        }
        printJSONLine({{"dabFICStatus", c.dabFICStatus},
                       {"dabStatus", c.dabStatus},
                       {"dabFICCRCCount", c.dabFICCRCCount},
                       {"dabPRSCorrelation", c.dabPRSCorrelation},
                       {"dabFreqOffsetHz", c.dabFreqOffsetHz},
                       {"dabCifCounter", c.dabCifCounter},
                       {"dabSuperframeCount", c.dabSuperframeCount},
                       {"dabRSHuntMissStreak", c.dabRSHuntMissStreak},
                       {"dabIsStereo", c.dabIsStereo},
                       {"dabSelectedServiceId", optionalJSON(c.dabSelectedServiceId)},
                       {"frequencyMHz", c.frequencyMHz.get()},
                       {"dabStreamRunning", c.dabStreamRunning.get()}});
    }

private:
    nlohmann::json lastEnsemble;
    nlohmann::json lastProgramme;
    std::size_t logosPrinted = 0;
};

int runDABScan(const CliArgs& args) {
    CliSession session(args, /*playsSound=*/false);
    SDRController& c = session.controller();
    c.start();
    if (!c.isRunning) {
        printJSONLine(statusLine(session, 0));
        return 1;
    }
    const bool autoConnect = args.hasFlag("auto-connect");
    c.startDABScan(autoConnect);
    std::size_t printedResults = 0;
    std::string lastStatus;
    const auto printChanges = [&] {
        if (c.dabStatus != lastStatus) {
            lastStatus = c.dabStatus;
            printJSONLine({{"dabStatus", c.dabStatus}, {"dabScanProgress", c.dabScanProgress}});
        }
        if (c.dabResults.size() != printedResults) {
            printedResults = c.dabResults.size();
            printJSONLine({{"dabResults", dabResultsJSON(c)}});
        }
    };
    session.runUntil(
        [&] {
            printChanges();
            return !c.dabScanning;
        },
        session.signalSecondsLeft());
    if (c.dabScanning) {
        c.cancelDABScan();
        session.runUntil([&] { return !c.dabScanning; }, 10.0);
    }
    printChanges();
    printJSONLine({{"dabResults", dabResultsJSON(c)}, {"dabStatus", c.dabStatus}});
    if (!autoConnect || !c.dabStreamRunning) return 0;
    DABPrinter printer;
    session.run([&](double) { printer.print(c); });
    return 0;
}

// DAB+ audio to a WAV file, opened at the rate and channels of the first decoded block.
class DABWavWriter {
public:
    explicit DABWavWriter(std::string path) : path(std::move(path)) {}
    // Runs on the DAB audio queue.
    DABAudioTap tap() {
        return [this](std::span<const float> left, std::span<const float> right, double rateHz) {
            std::lock_guard lock(mutex);
            if (recorder && recorder->sampleRate() != rateHz) return;  // a format change mid-file
            if (!recorder) {
                recorder = std::make_shared<AudioRecorder>(path, rateHz, 2);
                if (recorder->hasFailed()) std::fprintf(stderr, "vantirel-cli: cannot write %s\n", path.c_str());
            }
            recorder->write(left, right);
        };
    }
    void close() {
        std::lock_guard lock(mutex);
        if (recorder) recorder->close();
    }

private:
    std::string path;
    std::mutex mutex;
    std::shared_ptr<AudioRecorder> recorder;
};

// A service identifier as the window shows it: hexadecimal, with or without 0x.
std::uint32_t parseServiceId(const std::string& text) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 16);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value > 0xFFFFFFFFul) throw std::invalid_argument("--service needs a hexadecimal SId such as 2C11");
    return static_cast<std::uint32_t>(value);
}

int runDAB(const CliArgs& args) {
    const std::string label = args.text("channel").value_or("");
    const auto& channels = DABChannel::bandIII();
    const auto it = std::find_if(channels.begin(), channels.end(),
                                 [&](const DABChannel& ch) { return ch.label == label; });
    if (it == channels.end()) throw std::invalid_argument("dab needs --channel 5A…13F");
    std::optional<std::uint32_t> service;
    if (const auto sid = args.text("service")) service = parseServiceId(*sid);
    std::optional<DABWavWriter> wav;
    if (const auto path = args.text("wav")) wav.emplace(*path);
    CliSession session(args, /*playsSound=*/true, {}, wav ? wav->tap() : DABAudioTap{});
    SDRController& c = session.controller();
    c.tune(it->frequencyMHz, false);
    c.start();
    if (!c.isRunning) {
        printJSONLine(statusLine(session, 0));
        return 1;
    }
    c.selectDABChannel(DABScanResult{.channel = *it});
    if (service) c.selectDABService(*service);
    DABPrinter printer;
    session.run([&](double) { printer.print(c); });
    c.stopDABStreaming(false);
    c.stop();
    if (wav) wav->close();
    return 0;
}

std::optional<std::uint16_t> portOption(const CliArgs& args, const char* name) {
    const std::optional<double> value = args.number(name);
    if (!value) return std::nullopt;
    if (*value < 0 || *value > 65'535 || *value != static_cast<int>(*value))
        throw std::invalid_argument(std::string("--") + name + " needs a port from 0 to 65535");
    return static_cast<std::uint16_t>(*value);
}

ADSBFeedSettings feedSettings(const CliArgs& args) {
    ADSBFeedSettings settings{.sbsPort = portOption(args, "sbs-port"),
                              .beastPort = portOption(args, "beast-port")};
    if (const auto dir = args.text("json-dir")) settings.jsonDir = *dir;
    if (const auto bind = args.text("bind")) settings.bindAddress = *bind;
    return settings;
}

nlohmann::json feedsJSON(const ADSBFeeds& feeds) {
    nlohmann::json j = {{"status", feeds.statusText()}, {"problems", feeds.problems()}};
    if (const auto port = feeds.sbsPort()) j["sbsPort"] = *port;
    if (const auto port = feeds.beastPort()) j["beastPort"] = *port;
    if (feeds.isWritingJSON()) j["jsonDir"] = feeds.settings().jsonDir->string();
    return j;
}

int runADSB(const CliArgs& args) {
    const ADSBFeedSettings settings = feedSettings(args);
    CliSession session(args, /*playsSound=*/false);
    SDRController& c = session.controller();
    ADSBFeeds feeds(adsbUpdatesOf(session.sharedController()));
    if (settings.hasAnyFeed()) {
        // Opened before the radio starts: a feeder whose port is taken should fail at once,
        // not run on without the feed it was started for.
        feeds.apply(settings);
        printJSONLine({{"feeds", feedsJSON(feeds)}});
        if (!feeds.problems().empty()) {
            for (const std::string& problem : feeds.problems())
                std::fprintf(stderr, "vantirel-cli: %s\n", problem.c_str());
            return 1;
        }
    }
    c.start();
    c.setADSBEnabled(true);
    if (!c.isRunning) {
        printJSONLine(statusLine(session, 0));
        return 1;
    }
    std::map<std::string, nlohmann::json> last;
    session.run([&](double) {
        for (const ADSBAircraft& a : c.adsbAircraft) {
            nlohmann::json j = aircraftJSON(a);
            nlohmann::json compare = j;
            compare.erase("lastSeen");
            compare.erase("messageCount");
            auto& seen = last[a.icao];
            if (seen == compare) continue;
            seen = compare;
            printJSONLine({{"aircraft", j}});
        }
        nlohmann::json line = {{"adsbDebugInfo", c.adsbDebugInfo}, {"aircraftCount", c.adsbAircraft.size()}};
        if (settings.hasAnyFeed()) line["feeds"] = feeds.statusText();
        printJSONLine(line);
    });
    return 0;
}

std::chrono::duration<double> secondsOption(const CliArgs& args, const char* name, double fallback) {
    const double value = args.number(name).value_or(fallback);
    if (!(value >= 0)) throw std::invalid_argument(std::string("--") + name + " must be 0 or more seconds");
    return std::chrono::duration<double>(value);
}

// The KISS TCP server of --kiss-port, opened before any decoding so a port in use fails at once.
std::shared_ptr<KISSServer> kissServerFor(const CliArgs& args) {
    const std::optional<std::uint16_t> port = portOption(args, "kiss-port");
    if (!port) return nullptr;
    KISSServerConfig config{.port = *port};
    if (const auto bind = args.text("bind")) config.bindAddress = *bind;
    auto server = std::make_shared<KISSServer>(std::move(config));
    printJSONLine({{"kiss", {{"port", server->port()}, {"bindAddress", server->bindAddress()}}}});
    return server;
}

// A file decodes in moments, before any client could connect, so decoding waits for the first
// client (at most --kiss-wait S), and the server stays up --linger S afterwards for the frames
// still queued, ending early once no client is left.
void waitForKISSClient(const KISSServer& server, std::chrono::duration<double> wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (server.clientCount() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void lingerForKISSClients(const KISSServer& server, std::chrono::duration<double> linger) {
    const auto deadline = std::chrono::steady_clock::now() + linger;
    while (server.clientCount() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Audio of any format and rate, read block by block and resampled to the decoder's rate, so
// a file of hours needs no more memory than one of seconds.
int decodeAPRSFile(const std::string& path, KISSServer* kiss, std::chrono::duration<double> kissWait) {
    constexpr double kDecoderRateHz = 51'200.0;
    std::string error;
    const std::unique_ptr<AudioFileReader> file = AudioFileReader::open(path, error);
    if (!file) throw std::runtime_error(error);
    std::unique_ptr<AudioResampler> resampler;
    if (file->info().sampleRateHz != kDecoderRateHz) {
        resampler = AudioResampler::create(
            {.inputRateHz = file->info().sampleRateHz, .outputRateHz = kDecoderRateHz}, error);
        if (!resampler) throw std::runtime_error(path + ": " + error);
    }
    if (kiss) waitForKISSClient(*kiss, kissWait);
    APRSDecoder decoder(kDecoderRateHz);
    int packets = 0;
    decoder.onPacket = [&](const APRSPacket& p) {
        printJSONLine({{"packet", packetJSON(p)}});
        if (kiss) kiss->send(p);
        ++packets;
    };
    std::vector<float> in(8'192), out(16'384);
    for (;;) {
        const std::size_t n = file->readFirstChannel(in);
        if (n == 0) break;
        if (!resampler) {
            decoder.process(std::span<const float>(in).first(n));
            continue;
        }
        for (std::span<const float> pending(in.data(), n); !pending.empty();) {
            const AudioResampler::Progress p = resampler->process(pending, out);
            decoder.process(std::span<const float>(out).first(p.produced));
            pending = pending.subspan(p.consumed);
        }
    }
    while (resampler) {
        const std::size_t n = resampler->drain(out);
        if (n == 0) break;
        decoder.process(std::span<const float>(out).first(n));
    }
    printJSONLine({{"packets", packets}, {"fcsFailures", decoder.fcsFailureCount()}});
    return 0;
}

int runAPRS(const CliArgs& args) {
    const auto kissWait = secondsOption(args, "kiss-wait", 10.0);
    const auto linger = secondsOption(args, "linger", 2.0);
    const std::shared_ptr<KISSServer> kiss = kissServerFor(args);
    if (const std::optional<std::string> wav = args.text("wav")) {
        const int status = decodeAPRSFile(*wav, kiss.get(), kissWait);
        if (kiss) lingerForKISSClients(*kiss, linger);
        return status;
    }
    const double mhz = args.number("mhz").value_or(144.8);
    CliSession session(args, /*playsSound=*/false);
    SDRController& c = session.controller();
    if (kiss) c.addAPRSListener([kiss](const APRSPacket& p) { kiss->send(p); });
    c.mode = DemodMode::fm;
    c.tune(mhz, true);
    c.start();
    c.setIsNarrowbandFM(true);
    c.aprsEnabled = true;
    if (!c.isRunning) {
        printJSONLine(statusLine(session, 0));
        return 1;
    }
    std::set<std::string> printed;
    session.run([&](double) {
        for (auto it = c.aprsPackets.rbegin(); it != c.aprsPackets.rend(); ++it)
            if (printed.insert(it->id).second) printJSONLine({{"packet", packetJSON(*it)}});
    });
    return 0;
}

// The source (simulated world, recording, dongle) served to rtl_tcp clients until --seconds of
// signal have been served, or forever. Status once a second; each command a client sends.
int runServeRtlTcp(const CliArgs& args) {
    const double port = args.number("port").value_or(1234);
    if (!(port >= 0 && port <= 65'535) || port != std::floor(port))
        throw std::invalid_argument("--port must be a whole number from 0 to 65535");
    const SignalSource source = makeSignalSource({.choice = args.source,
                                                  .speed = args.speed,
                                                  .recordingCenterMHz = args.recordingCenterMHz,
                                                  .recordingSampleRateHz = args.recordingSampleRateHz,
                                                  .audio = false});
    // Command lines come from the server's thread, status lines from this one.
    std::mutex printLock;
    const auto print = [&printLock](const nlohmann::json& j) {
        std::lock_guard guard(printLock);
        printJSONLine(j);
    };
    RtlTcpServerConfig config{.bindAddress = args.text("bind").value_or("127.0.0.1"),
                              .port = static_cast<std::uint16_t>(port)};
    config.onCommand = [&print](const RtlTcpCommandEvent& e) {
        nlohmann::json j = {{"command", e.command}, {"parameter", e.parameter}, {"known", e.known}};
        if (e.status != 0) j["status"] = e.status;
        print({{"rtltcpCommand", j}});
    };
    RtlTcpServer server(source.dongle(), config);
    print({{"rtltcp", {{"listening", server.bindAddress() + ":" + std::to_string(server.port())},
                       {"source", source.description}}}});
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double served = server.signalSeconds();
        print({{"rtltcp",
                {{"clients", server.clientCount()},
                 {"bytesSent", server.bytesSent()},
                 {"bytesDropped", server.bytesDropped()},
                 {"frequencyHz", server.centerFrequencyHz()},
                 {"sampleRateHz", server.sampleRateHz()},
                 {"signalSeconds", served}}}});
        if (args.seconds && served >= *args.seconds) break;
    }
    server.stop();
    return 0;
}

// Works on the saved-station file alone: no receiver is started.
int runBookmarks(const CliArgs& args) {
    if (args.arguments.size() != 2 || (args.arguments[0] != "import" && args.arguments[0] != "export"))
        throw std::invalid_argument("bookmarks needs import FILE or export FILE");
    const std::optional<BookmarkFormat> format = parseBookmarkFormat(args.text("format").value_or("gqrx"));
    if (!format) throw std::invalid_argument("--format must be gqrx or csv");
    const auto controller = SDRController::create(
        {.mainQueue = std::make_shared<MainQueue>(),
         .documentsDir = args.documents ? std::filesystem::path(*args.documents) : UserPaths::documentsDir()});
    const BookmarkTransferReport report = args.arguments[0] == "import"
                                              ? controller->importStations(args.arguments[1])
                                              : controller->exportStations(args.arguments[1], *format);
    printJSONLine({{"ok", report.isSuccess},
                   {"report", report.text},
                   {"stations", report.imported},
                   {"rows", report.rows},
                   {"duplicates", report.duplicates},
                   {"unreadable", report.unreadable}});
    return report.isSuccess ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    for (int k = 1; k < argc; ++k) {
        const std::string_view word = argv[k];
        if (word == "--help" || word == "-h") {
            std::fputs(cliUsage().c_str(), stdout);
            return 0;
        }
    }
    try {
        const CliArgs args = parseCliArgs(argc, argv, {"no-audio", "stereo", "nbfm", "auto-connect", "rds-json"});
        if (!args.arguments.empty() && args.command != "bookmarks")
            throw std::invalid_argument("unexpected argument '" + args.arguments.front() + "'");
        if (args.command == "status") return runStatus(args);
        if (args.command == "listen") return runListen(args);
        if (args.command == "scan") return runScan(args);
        if (args.command == "adsb") return runADSB(args);
        if (args.command == "aprs") return runAPRS(args);
        if (args.command == "dab-scan") return runDABScan(args);
        if (args.command == "dab") return runDAB(args);
        if (args.command == "serve-rtltcp") return runServeRtlTcp(args);
        if (args.command == "bookmarks") return runBookmarks(args);
        throw std::invalid_argument("unknown command '" + args.command + "'");
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "vantirel-cli: %s\n\n%s", error.what(), cliUsage().c_str());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantirel-cli: %s\n", error.what());
        return 1;
    }
}
