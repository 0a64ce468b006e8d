#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "feeds/MQTTPublisher.h"
#include "rds/RDSProgramme.h"

class SDRController;
struct ADSBAircraft;

// Compact JSON text; invalid UTF-8 from the air becomes U+FFFD instead of throwing on the
// decoder's thread.
std::string mqttPayload(const nlohmann::json& j);

// Aircraft updates worth a message: the CLI's rule, a changed record apart from lastSeen,
// messageCount and the trail (which only grows with the position). Processing thread only.
class MQTTAircraftChanges {
public:
    static constexpr std::size_t kMaxTracked = 4'096;  // forgotten all at once past this
    // The aircraft's JSON when it differs from the last one taken for its ICAO address.
    std::optional<nlohmann::json> take(const ADSBAircraft& aircraft);

private:
    std::map<std::string, nlohmann::json> lastByICAO;
};

// RDS station state worth a message: a change of the programme info once the PI is known,
// not each of the ~11 groups a second. The PI is text ("0xC201") as in the RDS JSON lines.
class MQTTRDSChanges {
public:
    std::optional<nlohmann::json> take(const RDSProgrammeInfo& station);
    void reset() { last.reset(); }

private:
    std::optional<RDSProgrammeInfo> last;
};

// What a DAB listener is hearing, read from the controller's published state.
struct MQTTDABNowPlaying {
    std::string ensembleLabel;
    std::optional<std::uint32_t> serviceId;
    std::string serviceLabel;
    std::optional<std::string> dynamicLabel;
    std::optional<std::string> artist;  // DL Plus
    std::optional<std::string> title;
    bool operator==(const MQTTDABNowPlaying&) const = default;
};
MQTTDABNowPlaying mqttDABNowPlaying(const SDRController& controller);
// serviceId as hex text ("2C11") as the CLI lists it; absent values are null.
nlohmann::json mqttDABJSON(const MQTTDABNowPlaying& playing);

struct MQTTFeedSettings {
    std::string host = "127.0.0.1";
    std::uint16_t port = MQTTBrokerAddress::kDefaultPort;
    std::string receiverName;  // empty: the host name
    bool operator==(const MQTTFeedSettings&) const = default;
};

// Decoded events of one controller published over MQTT: ADS-B aircraft updates, APRS packets
// and RDS station changes straight from the decoder threads through listeners, DAB selection
// and now-playing changes from poll() on the main thread. Holds the controller weakly.
//
// Main thread: start, stop, poll and the getters. start() never fails for an absent broker
// (the publisher keeps trying); it throws std::runtime_error only when libmosquitto cannot.
class MQTTFeed {
public:
    explicit MQTTFeed(const std::shared_ptr<SDRController>& controller);
    ~MQTTFeed();
    MQTTFeed(const MQTTFeed&) = delete;
    MQTTFeed& operator=(const MQTTFeed&) = delete;

    void start(const MQTTFeedSettings& settings);
    void stop();
    // Publishes the DAB state when it changed; call about once a second.
    void poll();

    bool isRunning() const { return publisher != nullptr; }
    bool isConnected() const { return publisher && publisher->isConnected(); }
    const MQTTPublisher* activePublisher() const { return publisher.get(); }
    // "MQTT 127.0.0.1:1883 connected, 120 sent" or "MQTT off".
    std::string statusText() const;

private:
    std::weak_ptr<SDRController> controller;
    std::shared_ptr<MQTTPublisher> publisher;  // shared with the listeners, which may run late
    std::optional<int> adsbListener, aprsListener, rdsListener;
    MQTTDABNowPlaying lastDAB;
};
