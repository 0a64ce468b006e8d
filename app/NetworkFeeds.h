#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ReceiverSettings.h"

class KISSServer;
class MQTTFeed;
class RigctlServer;
class SDRController;

// The window's feeds for other programs from the settings: APRS over KISS TCP, hamlib rig
// control and MQTT. Started once at launch (the settings say "applies at next start"); a port
// that cannot be bound is reported, not fatal. Main thread.
class NetworkFeeds {
public:
    NetworkFeeds(const std::shared_ptr<SDRController>& controller, const FeedSettings& settings);
    ~NetworkFeeds();
    NetworkFeeds(const NetworkFeeds&) = delete;
    NetworkFeeds& operator=(const NetworkFeeds&) = delete;

    // Publishes the main-thread state MQTT follows (DAB service and label); once per frame.
    void poll();
    // Closes the servers; before the controller stops, so no rig command waits on it.
    void stop();

    // One line per feed that could not start.
    const std::vector<std::string>& problems() const { return failures; }

private:
    std::weak_ptr<SDRController> controller;
    std::shared_ptr<KISSServer> kiss;
    std::optional<int> kissListener;
    std::unique_ptr<RigctlServer> rigctl;
    std::unique_ptr<MQTTFeed> mqtt;
    std::vector<std::string> failures;
};
