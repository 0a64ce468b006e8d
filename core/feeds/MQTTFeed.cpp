#include "feeds/MQTTFeed.h"

#include <algorithm>

#include "adsb/ADSBAircraft.h"
#include "control/ControllerJSON.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

std::string mqttPayload(const nlohmann::json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<nlohmann::json> MQTTAircraftChanges::take(const ADSBAircraft& aircraft) {
    nlohmann::json j = aircraftJSON(aircraft);
    nlohmann::json compare = j;
    compare.erase("lastSeen");
    compare.erase("messageCount");
    compare.erase("trail");
    const auto it = lastByICAO.find(aircraft.icao);
    if (it != lastByICAO.end() && it->second == compare) return std::nullopt;
    if (it == lastByICAO.end() && lastByICAO.size() >= kMaxTracked) lastByICAO.clear();
    lastByICAO[aircraft.icao] = std::move(compare);
    return j;
}

std::optional<nlohmann::json> MQTTRDSChanges::take(const RDSProgrammeInfo& station) {
    if (!station.pi || (last && *last == station)) return std::nullopt;
    last = station;
    nlohmann::json j = rdsDetailsJSON(station);
    j["pi"] = formatString("0x%04X", static_cast<unsigned>(*station.pi));
    return j;
}

MQTTDABNowPlaying mqttDABNowPlaying(const SDRController& c) {
    MQTTDABNowPlaying playing{.ensembleLabel = c.dabActive ? c.dabEnsembleLabel : std::string(),
                              .serviceId = c.dabSelectedServiceId,
                              .dynamicLabel = c.dabDynamicLabel,
                              .artist = c.dabDLPlusArtist,
                              .title = c.dabDLPlusTitle};
    if (playing.serviceId) {
        const auto it = std::find_if(
            c.dabServices.begin(), c.dabServices.end(),
            [&](const DABServiceInfo& s) { return s.serviceID == *playing.serviceId; });
        if (it != c.dabServices.end()) playing.serviceLabel = it->label;
    }
    return playing;
}

nlohmann::json mqttDABJSON(const MQTTDABNowPlaying& p) {
    return {{"ensemble", p.ensembleLabel},
            {"serviceId", p.serviceId ? nlohmann::json(formatString("%04X", *p.serviceId))
                                      : nlohmann::json(nullptr)},
            {"service", p.serviceLabel},
            {"dynamicLabel", optionalJSON(p.dynamicLabel)},
            {"artist", optionalJSON(p.artist)},
            {"title", optionalJSON(p.title)}};
}

MQTTFeed::MQTTFeed(const std::shared_ptr<SDRController>& c) : controller(c) {}

MQTTFeed::~MQTTFeed() {
    stop();
}

void MQTTFeed::start(const MQTTFeedSettings& settings) {
    stop();
    auto c = controller.lock();
    if (!c) return;
    publisher = std::make_shared<MQTTPublisher>(MQTTPublisherConfig{
        .broker = {.host = settings.host, .port = settings.port},
        .receiverName =
            settings.receiverName.empty() ? mqttDefaultReceiverName() : settings.receiverName});
    // The listeners run on the decoder threads; each owns its change filter, touched only there.
    adsbListener =
        c->addADSBListener([out = publisher, changes = std::make_shared<MQTTAircraftChanges>()](
                               const ADSBTrackUpdate& u) {
            if (const auto j = changes->take(u.aircraft)) out->publish("adsb", mqttPayload(*j));
        });
    aprsListener = c->addAPRSListener([out = publisher](const APRSPacket& packet) {
        out->publish("aprs", mqttPayload(packetJSON(packet)));
    });
    rdsListener =
        c->addRDSGroupListener([out = publisher, changes = std::make_shared<MQTTRDSChanges>()](
                                   const RDSGroupReport&, const RDSProgrammeInfo& station) {
            if (const auto j = changes->take(station)) out->publish("rds", mqttPayload(*j));
        });
    lastDAB = {};
    DebugLog::writef("MQTT: publishing to %s:%u as %s", settings.host.c_str(),
                     static_cast<unsigned>(settings.port), publisher->topicPrefix().c_str());
}

void MQTTFeed::stop() {
    if (auto c = controller.lock()) {
        if (adsbListener) c->removeADSBListener(*adsbListener);
        if (aprsListener) c->removeAPRSListener(*aprsListener);
        if (rdsListener) c->removeRDSGroupListener(*rdsListener);
    }
    adsbListener.reset();
    aprsListener.reset();
    rdsListener.reset();
    // A listener copied out of its set just before removal may still hold the publisher; it
    // then publishes into a client that is disconnected, which only queues.
    publisher.reset();
}

void MQTTFeed::poll() {
    auto c = controller.lock();
    if (!publisher || !c) return;
    MQTTDABNowPlaying now = mqttDABNowPlaying(*c);
    if (now == lastDAB) return;
    publisher->publish("dab", mqttPayload(mqttDABJSON(now)));
    lastDAB = std::move(now);
}

std::string MQTTFeed::statusText() const {
    if (!publisher) return "MQTT off";
    const MQTTBrokerAddress& b = publisher->broker();
    return formatString("MQTT %s:%u %s, %llu sent", b.host.c_str(), static_cast<unsigned>(b.port),
                        publisher->isConnected() ? "connected" : "connecting",
                        static_cast<unsigned long long>(publisher->publishedMessages()));
}
