#include "NetworkFeeds.h"

#include "control/RigControlAdapter.h"
#include "control/SDRController.h"
#include "feeds/KISSServer.h"
#include "feeds/MQTTFeed.h"
#include "feeds/RigctlServer.h"
#include "platform/DebugLog.h"

NetworkFeeds::NetworkFeeds(const std::shared_ptr<SDRController>& c, const FeedSettings& settings)
    : controller(c) {
    const auto fail = [this](const std::string& what, const std::exception& error) {
        failures.push_back(what + ": " + error.what());
        DebugLog::writef("📡 %s", failures.back().c_str());
    };
    if (settings.aprsKISS.enabled) {
        try {
            kiss = std::make_shared<KISSServer>(KISSServerConfig{.port = settings.aprsKISS.port});
            kissListener = c->addAPRSListener([server = kiss](const APRSPacket& p) { server->send(p); });
        } catch (const std::exception& error) {
            fail("APRS KISS", error);
        }
    }
    if (settings.rigctl.enabled) {
        try {
            rigctl = std::make_unique<RigctlServer>(RigctlServerConfig{.port = settings.rigctl.port},
                                                    RigControlAdapter(c).receiver());
        } catch (const std::exception& error) {
            fail("rigctl", error);
        }
    }
    if (settings.mqttEnabled) {
        try {
            mqtt = std::make_unique<MQTTFeed>(c);
            mqtt->start({.host = settings.mqttHost,
                         .port = settings.mqttPort,
                         .receiverName = settings.mqttReceiverName});
        } catch (const std::exception& error) {
            mqtt.reset();
            fail("MQTT", error);
        }
    }
}

NetworkFeeds::~NetworkFeeds() {
    stop();
}

void NetworkFeeds::poll() {
    if (mqtt) mqtt->poll();
}

void NetworkFeeds::stop() {
    if (rigctl) rigctl->stop();
    if (mqtt) mqtt->stop();
    if (kissListener) {
        if (auto c = controller.lock()) c->removeAPRSListener(*kissListener);
        kissListener.reset();
    }
    kiss.reset();
}
