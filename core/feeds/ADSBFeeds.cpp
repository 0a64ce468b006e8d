#include "feeds/ADSBFeeds.h"

#include <mutex>
#include <string_view>

#include "control/SDRController.h"
#include "feeds/ADSBAircraftTable.h"
#include "feeds/ADSBBaseStationFormat.h"
#include "feeds/ADSBBeastFormat.h"
#include "feeds/ADSBJSONWriter.h"
#include "feeds/FeedTCPServer.h"
#include "platform/DebugLog.h"

// What the listener writes to. The listener copies the pointers under the lock and works
// outside it; a server closed meanwhile takes the late write and drops it.
struct ADSBFeeds::Outputs {
    std::mutex lock;
    std::shared_ptr<FeedTCPServer> sbs;
    std::shared_ptr<FeedTCPServer> beast;
    std::shared_ptr<ADSBAircraftTable> table;

    void deliver(const ADSBTrackUpdate& update) {
        std::shared_ptr<FeedTCPServer> sbsNow, beastNow;
        std::shared_ptr<ADSBAircraftTable> tableNow;
        {
            std::lock_guard guard(lock);
            sbsNow = sbs;
            beastNow = beast;
            tableNow = table;
        }
        const auto now = std::chrono::system_clock::now();
        if (sbsNow) {
            if (const auto line = baseStationLine(update, now)) sbsNow->broadcast(*line);
        }
        if (beastNow) {
            BeastFrameBuffer frame;
            const std::size_t length = encodeBeastLongFrame(update.message, frame);
            beastNow->broadcast(
                std::string_view(reinterpret_cast<const char*>(frame.data()), length));
        }
        if (tableNow) tableNow->record(update, now);
    }
};

ADSBUpdateSource adsbUpdatesOf(const std::shared_ptr<SDRController>& controller) {
    std::weak_ptr<SDRController> weak = controller;
    return {
        .subscribe = [weak](ADSBListenerSet::Listener listener) {
            const auto c = weak.lock();
            return c ? c->addADSBListener(std::move(listener)) : 0;
        },
        .unsubscribe = [weak](int id) {
            if (const auto c = weak.lock()) c->removeADSBListener(id);
        },
    };
}

ADSBFeeds::ADSBFeeds(ADSBUpdateSource updates)
    : source(std::move(updates)), outputs(std::make_shared<Outputs>()) {}

ADSBFeeds::~ADSBFeeds() {
    stop();
}

void ADSBFeeds::stop() {
    apply({.bindAddress = current.bindAddress});
}

void ADSBFeeds::apply(const ADSBFeedSettings& settings) {
    applySBS(settings);
    applyBeast(settings);
    applyJSON(settings);
    current = settings;
    publishOutputs();
    const bool wanted = sbsServer || beastServer || jsonWriter;
    if (wanted && !listenerId) {
        listenerId = source.subscribe(
            [out = outputs](const ADSBTrackUpdate& update) { out->deliver(update); });
    } else if (!wanted && listenerId) {
        source.unsubscribe(*listenerId);
        listenerId.reset();
    }
}

namespace {

// Closes `server` (after the listener has let go of it) and opens a new one when `port` is set.
void reopenServer(std::shared_ptr<FeedTCPServer>& server, std::optional<std::string>& problem,
                  const char* name, const char* threadName, std::optional<std::uint16_t> port,
                  const std::string& bindAddress) {
    if (server) server->stop();
    server.reset();
    problem.reset();
    if (!port) return;
    try {
        server = std::make_shared<FeedTCPServer>(FeedTCPServerConfig{
            .bindAddress = bindAddress, .port = *port, .threadName = threadName});
    } catch (const FeedServerError& error) {
        problem = std::string(name) + ": " + error.describe();
        DebugLog::writef("%s feed not started: %s", name, error.describe().c_str());
    }
}

// True when `server` already serves what the settings ask: the same port as before, or the very
// port it was given when the system picked one.
bool keepsServer(const std::shared_ptr<FeedTCPServer>& server, std::optional<std::uint16_t> wanted,
                 std::optional<std::uint16_t> before, const std::string& bindAddress,
                 const std::string& bindAddressBefore) {
    if (bindAddress != bindAddressBefore) return false;
    if (!server) return !wanted;
    return wanted && (wanted == before || *wanted == server->port());
}

}  // namespace

void ADSBFeeds::applySBS(const ADSBFeedSettings& settings) {
    if (!sbsProblem && keepsServer(sbsServer, settings.sbsPort, current.sbsPort,
                                   settings.bindAddress, current.bindAddress))
        return;
    {
        std::lock_guard guard(outputs->lock);
        outputs->sbs.reset();
    }
    reopenServer(sbsServer, sbsProblem, "SBS", "feed.sbs", settings.sbsPort, settings.bindAddress);
}

void ADSBFeeds::applyBeast(const ADSBFeedSettings& settings) {
    if (!beastProblem && keepsServer(beastServer, settings.beastPort, current.beastPort,
                                     settings.bindAddress, current.bindAddress))
        return;
    {
        std::lock_guard guard(outputs->lock);
        outputs->beast.reset();
    }
    reopenServer(beastServer, beastProblem, "Beast", "feed.beast", settings.beastPort,
                 settings.bindAddress);
}

void ADSBFeeds::applyJSON(const ADSBFeedSettings& settings) {
    if (settings.jsonDir == current.jsonDir && !jsonProblem) return;
    {
        std::lock_guard guard(outputs->lock);
        outputs->table.reset();
    }
    jsonWriter.reset();
    table.reset();
    jsonProblem.reset();
    if (!settings.jsonDir) return;
    // A fresh table: aircraft heard while the file was off would show stale.
    auto freshTable = std::make_shared<ADSBAircraftTable>();
    try {
        jsonWriter = std::make_unique<ADSBJSONWriter>(freshTable,
                                                      ADSBJSONWriterConfig{.folder = *settings.jsonDir});
        table = std::move(freshTable);
    } catch (const std::filesystem::filesystem_error& error) {
        jsonProblem = "JSON: cannot use " + settings.jsonDir->string() + ": " + error.code().message();
        DebugLog::writef("aircraft.json not started: %s", error.what());
    }
}

void ADSBFeeds::publishOutputs() {
    std::lock_guard guard(outputs->lock);
    outputs->sbs = sbsServer;
    outputs->beast = beastServer;
    outputs->table = table;
}

std::optional<std::uint16_t> ADSBFeeds::sbsPort() const {
    if (!sbsServer) return std::nullopt;
    return sbsServer->port();
}

std::optional<std::uint16_t> ADSBFeeds::beastPort() const {
    if (!beastServer) return std::nullopt;
    return beastServer->port();
}

std::vector<std::string> ADSBFeeds::problems() const {
    std::vector<std::string> found;
    for (const auto* problem : {&sbsProblem, &beastProblem, &jsonProblem})
        if (*problem) found.push_back(**problem);
    if (jsonWriter) {
        if (std::string error = jsonWriter->lastError(); !error.empty())
            found.push_back("JSON: " + error);
    }
    return found;
}

std::string ADSBFeeds::serverText(const char* name, const FeedTCPServer& server) const {
    // The usual loopback address goes without saying; any other is worth showing.
    const std::string host = server.bindAddress() == "127.0.0.1" ? "" : server.bindAddress();
    std::string text = formatString("%s %s:%u", name, host.c_str(), server.port());
    if (const std::size_t clients = server.clientCount(); clients > 0)
        text += formatString(" (%zu client%s)", clients, clients == 1 ? "" : "s");
    return text;
}

std::string ADSBFeeds::statusText() const {
    std::vector<std::string> parts;
    if (sbsServer) parts.push_back(serverText("SBS", *sbsServer));
    if (sbsProblem) parts.push_back(*sbsProblem);
    if (beastServer) parts.push_back(serverText("Beast", *beastServer));
    if (beastProblem) parts.push_back(*beastProblem);
    if (jsonWriter) {
        const std::string error = jsonWriter->lastError();
        parts.push_back(error.empty() ? "JSON " + jsonWriter->folder().string() : "JSON: " + error);
    }
    if (jsonProblem) parts.push_back(*jsonProblem);
    if (parts.empty()) return "Feeds off";
    std::string text = parts.front();
    for (std::size_t k = 1; k < parts.size(); ++k) text += ", " + parts[k];
    return text;
}
