#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adsb/ADSBListenerSet.h"

class ADSBAircraftTable;
class ADSBJSONWriter;
class FeedTCPServer;
class SDRController;

// Which feeds run. An absent port or folder means that feed is off; port 0 lets the system pick
// a free port (ADSBFeeds reports the one it got).
struct ADSBFeedSettings {
    static constexpr std::uint16_t kSBSPort = 30003;    // where BaseStation readers look
    static constexpr std::uint16_t kBeastPort = 30005;  // where Beast readers look

    std::optional<std::uint16_t> sbsPort;
    std::optional<std::uint16_t> beastPort;
    std::optional<std::filesystem::path> jsonDir;  // aircraft.json goes here
    std::string bindAddress = "127.0.0.1";         // numeric; "0.0.0.0" opens the LAN
    bool operator==(const ADSBFeedSettings&) const = default;
    bool hasAnyFeed() const { return sbsPort || beastPort || jsonDir; }
};

// How the feeds reach the stream of track updates: the controller's addADSBListener and
// removeADSBListener, or a test's own listener set.
struct ADSBUpdateSource {
    std::function<int(ADSBListenerSet::Listener)> subscribe;
    std::function<void(int)> unsubscribe;
};

// The controller's updates; holds the controller weakly, so the feeds may outlive it.
ADSBUpdateSource adsbUpdatesOf(const std::shared_ptr<SDRController>& controller);

// The ADS-B feeds other programs read: BaseStation text (SBS) and Beast binary over TCP, and
// aircraft.json in a folder. It owns the servers and the writer and, while any feed runs, one
// listener on the update stream that turns each update into an SBS line, a Beast frame and a
// table entry. The listener runs on the processing thread and only formats and queues; network
// and file work happen on the feeds' own threads.
//
// Main thread (or any one thread): apply, stop, and the getters. A feed that cannot open (a port
// in use, an unwritable folder) is reported by problems() and statusText(); the others run.
class ADSBFeeds {
public:
    explicit ADSBFeeds(ADSBUpdateSource source);
    ~ADSBFeeds();
    ADSBFeeds(const ADSBFeeds&) = delete;
    ADSBFeeds& operator=(const ADSBFeeds&) = delete;

    // Opens the feeds `settings` names and closes the others. A feed whose setting is unchanged
    // and which runs is left alone, clients and all; one that failed before is tried again.
    void apply(const ADSBFeedSettings& settings);
    void stop();

    const ADSBFeedSettings& settings() const { return current; }
    // The bound port while that feed runs.
    std::optional<std::uint16_t> sbsPort() const;
    std::optional<std::uint16_t> beastPort() const;
    bool isWritingJSON() const { return jsonWriter != nullptr; }
    // One sentence per feed that was asked for and does not work. Empty when all run.
    std::vector<std::string> problems() const;
    // "SBS :30003 (1 client), Beast :30005, JSON /tmp/x", with problems in place of a feed that
    // failed, or "Feeds off".
    std::string statusText() const;

private:
    struct Outputs;

    void applySBS(const ADSBFeedSettings& settings);
    void applyBeast(const ADSBFeedSettings& settings);
    void applyJSON(const ADSBFeedSettings& settings);
    void publishOutputs();
    std::string serverText(const char* name, const FeedTCPServer& server) const;

    ADSBUpdateSource source;
    ADSBFeedSettings current;
    std::shared_ptr<Outputs> outputs;  // shared with the listener, which may run late
    std::optional<int> listenerId;
    std::shared_ptr<FeedTCPServer> sbsServer;
    std::shared_ptr<FeedTCPServer> beastServer;
    std::shared_ptr<ADSBAircraftTable> table;
    std::unique_ptr<ADSBJSONWriter> jsonWriter;
    std::optional<std::string> sbsProblem, beastProblem, jsonProblem;
};
