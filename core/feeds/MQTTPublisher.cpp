#include "feeds/MQTTPublisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <mutex>
#include <stdexcept>

#include "platform/DebugLog.h"

namespace {

constexpr char kTopicRoot[] = "vantirel/";
constexpr int kEventQoS = 0;
// The status goes with QoS 1: a consumer must not miss the online/offline edge.
constexpr int kStatusQoS = 1;
constexpr unsigned kReconnectMinSeconds = 1;
constexpr unsigned kReconnectMaxSeconds = 10;

void initMosquittoOnce() {
    // libmosquitto's own process-wide set-up; it is never undone, as other clients may follow.
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::uint16_t parsePort(std::string_view text) {
    unsigned value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value == 0 ||
        value > 65'535)
        throw std::invalid_argument("MQTT port must be 1 to 65535, got '" + std::string(text) +
                                    "'");
    return static_cast<std::uint16_t>(value);
}

}  // namespace

MQTTBrokerAddress parseMQTTBroker(std::string_view text) {
    MQTTBrokerAddress address;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            throw std::invalid_argument("MQTT broker '" + std::string(text) + "' lacks ']'");
        address.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                throw std::invalid_argument("MQTT broker '" + std::string(text) +
                                            "' is not [HOST]:PORT");
            address.port = parsePort(rest.substr(1));
        }
    } else {
        const std::size_t colon = text.find(':');
        // More than one colon without brackets is a bare IPv6 address.
        if (colon != std::string_view::npos &&
            text.find(':', colon + 1) == std::string_view::npos) {
            address.host = std::string(text.substr(0, colon));
            address.port = parsePort(text.substr(colon + 1));
        } else {
            address.host = std::string(text);
        }
    }
    if (address.host.empty())
        throw std::invalid_argument("MQTT broker needs a host, got '" + std::string(text) + "'");
    return address;
}

std::string mqttTopicLevel(std::string_view receiverName) {
    std::string level;
    level.reserve(receiverName.size());
    for (const char ch : receiverName) {
        const auto byte = static_cast<unsigned char>(ch);
        const bool unsafe = ch == '/' || ch == '+' || ch == '#' || byte < 0x20 || byte == 0x7F;
        level.push_back(unsafe ? '_' : ch);
    }
    // Brokers refuse topics that are not UTF-8; a name that is not keeps only its ASCII.
    if (mosquitto_validate_utf8(level.c_str(), static_cast<int>(level.size())) != MOSQ_ERR_SUCCESS)
        for (char& ch : level)
            if (static_cast<unsigned char>(ch) >= 0x80) ch = '_';
    return level.empty() ? "receiver" : level;
}

std::string mqttTopic(std::string_view receiverName, std::string_view leaf) {
    return kTopicRoot + mqttTopicLevel(receiverName) + "/" + std::string(leaf);
}

std::string mqttDefaultReceiverName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "receiver";
    return name;
}

void MQTTBacklog::push(Message message) {
    messages.push_back(std::move(message));
    while (messages.size() > maxMessages) {
        messages.pop_front();
        ++droppedCount;
    }
}

std::deque<MQTTBacklog::Message> MQTTBacklog::takeFresh(Clock::time_point now) {
    std::deque<Message> fresh;
    for (Message& m : messages) {
        if (now - m.queuedAt > maxAge) {
            ++droppedCount;
            continue;
        }
        fresh.push_back(std::move(m));
    }
    messages.clear();
    return fresh;
}

void MQTTPublisher::MosquittoDeleter::operator()(mosquitto* c) const noexcept {
    mosquitto_destroy(c);
}

MQTTPublisher::MQTTPublisher(MQTTPublisherConfig cfg)
    : config(std::move(cfg)),
      prefix(mqttTopic(config.receiverName, "")),
      statusTopic(prefix + "status"),
      backlog(config.maxBacklogMessages, config.maxBacklogAge) {
    initMosquittoOnce();
    // The pid keeps two programs of one receiver (window and command line) from pushing each
    // other off the broker, which drops the older of two clients with one id.
    const std::string clientId =
        "vantirel-" + mqttTopicLevel(config.receiverName) + "-" + std::to_string(getpid());
    client.reset(mosquitto_new(clientId.c_str(), /*clean_session=*/true, this));
    if (!client) throw std::runtime_error("libmosquitto could not create an MQTT client");
    mosquitto_connect_callback_set(client.get(), &MQTTPublisher::handleConnect);
    mosquitto_disconnect_callback_set(client.get(), &MQTTPublisher::handleDisconnect);
    mosquitto_will_set(client.get(), statusTopic.c_str(), 7, "offline", kStatusQoS,
                       /*retain=*/true);
    mosquitto_threaded_set(client.get(), true);
    // The first connection is made on the thread too: resolving and reaching a far host can
    // take long, and the caller must not wait for it.
    thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

MQTTPublisher::~MQTTPublisher() {
    {
        std::lock_guard guard(lock);
        // A clean disconnect does not fire the will, so the offline state is sent by hand.
        if (connected.load())
            mosquitto_publish(client.get(), nullptr, statusTopic.c_str(), 7, "offline", kStatusQoS,
                              true);
        connected = false;
    }
    mosquitto_disconnect(client.get());
    thread.request_stop();
    pauseWake.notify_all();
    thread.join();
}

void MQTTPublisher::pause(std::chrono::milliseconds delay, const std::stop_token& stop) {
    std::unique_lock guard(pauseLock);
    pauseWake.wait_for(guard, stop, delay, [] { return false; });
}

void MQTTPublisher::run(std::stop_token stop) {
    constexpr int kLoopTimeoutMs = 100;  // how soon a stop is noticed
    std::chrono::milliseconds delay = std::chrono::seconds(kReconnectMinSeconds);
    const int first = mosquitto_connect_async(client.get(), config.broker.host.c_str(),
                                              config.broker.port, config.keepAliveSeconds);
    bool needsConnect = first != MOSQ_ERR_SUCCESS;
    if (needsConnect) {
        DebugLog::writef("MQTT: %s:%u not reached yet (%s), retrying", config.broker.host.c_str(),
                         static_cast<unsigned>(config.broker.port), mosquitto_strerror(first));
        pause(delay, stop);
    }
    while (!stop.stop_requested()) {
        if (needsConnect) {
            connectedOnce = false;
            if (mosquitto_reconnect_async(client.get()) != MOSQ_ERR_SUCCESS) {
                pause(delay, stop);
                delay = std::min<std::chrono::milliseconds>(
                    delay * 2, std::chrono::seconds(kReconnectMaxSeconds));
                continue;
            }
            needsConnect = false;
        }
        const int rc = mosquitto_loop(client.get(), kLoopTimeoutMs, 1);
        if (connectedOnce.load()) delay = std::chrono::seconds(kReconnectMinSeconds);
        if (rc == MOSQ_ERR_SUCCESS) continue;
        // Lost, refused or garbled: whatever libmosquitto makes of it, start over later.
        if (connected.exchange(false))
            DebugLog::writef("MQTT: connection lost (%s)", mosquitto_strerror(rc));
        if (stop.stop_requested()) break;
        pause(delay, stop);
        delay = std::min<std::chrono::milliseconds>(delay * 2,
                                                    std::chrono::seconds(kReconnectMaxSeconds));
        needsConnect = true;
    }
    // Sends what the destructor queued (offline status, DISCONNECT); ends when the socket closes.
    for (int k = 0; k < 10 && mosquitto_loop(client.get(), kLoopTimeoutMs, 1) == MOSQ_ERR_SUCCESS;
         ++k) {
    }
}

std::uint64_t MQTTPublisher::droppedMessages() const {
    std::lock_guard guard(lock);
    return backlog.dropped() + sendFailures.load(std::memory_order_relaxed);
}

int MQTTPublisher::send(const std::string& topic, std::string_view payload) {
    const int rc = mosquitto_publish(client.get(), nullptr, topic.c_str(),
                                     static_cast<int>(payload.size()), payload.data(), kEventQoS,
                                     /*retain=*/false);
    if (rc == MOSQ_ERR_SUCCESS) published.fetch_add(1, std::memory_order_relaxed);
    return rc;
}

void MQTTPublisher::publish(std::string_view leaf, std::string_view payload) {
    std::string topic = prefix + std::string(leaf);
    std::lock_guard guard(lock);
    // While messages wait in the backlog, newer ones queue behind them to keep the order.
    if (connected.load() && backlog.size() == 0) {
        const int rc = send(topic, payload);
        if (rc == MOSQ_ERR_SUCCESS) return;
        // The socket went before the disconnect callback ran: keep the message for later.
        if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST) {
            sendFailures.fetch_add(1, std::memory_order_relaxed);  // e.g. a payload too large
            return;
        }
    }
    backlog.push({.topic = std::move(topic),
                  .payload = std::string(payload),
                  .queuedAt = MQTTBacklog::Clock::now()});
}

void MQTTPublisher::handleConnect(mosquitto* c, void* opaque, int result) {
    auto* self = static_cast<MQTTPublisher*>(opaque);
    if (result != 0) {
        DebugLog::writef("MQTT: broker refused the connection (%s)",
                         mosquitto_connack_string(result));
        return;
    }
    std::lock_guard guard(self->lock);
    mosquitto_publish(c, nullptr, self->statusTopic.c_str(), 6, "online", kStatusQoS, true);
    self->connected = true;
    self->connectedOnce = true;
    self->connectCount.fetch_add(1, std::memory_order_relaxed);
    for (const MQTTBacklog::Message& m : self->backlog.takeFresh(MQTTBacklog::Clock::now()))
        if (self->send(m.topic, m.payload) != MOSQ_ERR_SUCCESS)
            self->sendFailures.fetch_add(1, std::memory_order_relaxed);
    DebugLog::writef("MQTT: connected to %s:%u", self->config.broker.host.c_str(),
                     static_cast<unsigned>(self->config.broker.port));
}

void MQTTPublisher::handleDisconnect(mosquitto*, void* opaque, int result) {
    auto* self = static_cast<MQTTPublisher*>(opaque);
    {
        std::lock_guard guard(self->lock);
        self->connected = false;
    }
    if (result != 0) DebugLog::write("MQTT: connection lost, reconnecting");
}
