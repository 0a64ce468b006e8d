#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

struct mosquitto;

// Where the broker listens: "HOST[:PORT]", "[v6addr]:PORT" for IPv6 with a port.
struct MQTTBrokerAddress {
    static constexpr std::uint16_t kDefaultPort = 1883;
    std::string host;
    std::uint16_t port = kDefaultPort;
    bool operator==(const MQTTBrokerAddress&) const = default;
};

// Throws std::invalid_argument with a one-line reason for an empty host or a bad port.
MQTTBrokerAddress parseMQTTBroker(std::string_view text);

// The receiver name as one topic level: '/', '+', '#' and control characters would split the
// level or turn it into a wildcard, so they become '_', as do the bytes above 0x7F of a name
// that is not UTF-8. Empty gives "receiver".
std::string mqttTopicLevel(std::string_view receiverName);
// "vantirel/<level>/<leaf>".
std::string mqttTopic(std::string_view receiverName, std::string_view leaf);
// The machine's host name, the receiver name when none is given.
std::string mqttDefaultReceiverName();

// Messages held while the broker is away, bounded in count and age: after an outage the
// newest `maxMessages` younger than `maxAge` are sent, the rest dropped (and counted). Live
// events lose their worth quickly; a replay of minutes of aircraft positions would mislead.
// Not thread-safe: MQTTPublisher guards it.
class MQTTBacklog {
public:
    using Clock = std::chrono::steady_clock;
    struct Message {
        std::string topic;
        std::string payload;
        Clock::time_point queuedAt;
    };

    MQTTBacklog(std::size_t maxMessages, Clock::duration maxAge)
        : maxMessages(maxMessages), maxAge(maxAge) {}

    void push(Message message);
    // Removes and returns every message, dropping those older than maxAge at `now`.
    std::deque<Message> takeFresh(Clock::time_point now);
    std::size_t size() const { return messages.size(); }
    std::uint64_t dropped() const { return droppedCount; }

private:
    std::size_t maxMessages;
    Clock::duration maxAge;
    std::deque<Message> messages;
    std::uint64_t droppedCount = 0;
};

struct MQTTPublisherConfig {
    MQTTBrokerAddress broker;
    std::string receiverName;  // made a safe topic level; also part of the client id
    std::size_t maxBacklogMessages = 1'000;
    std::chrono::seconds maxBacklogAge{30};
    int keepAliveSeconds = 30;
};

// Publishes JSON events to an MQTT broker through libmosquitto under vantirel/<name>/<leaf>.
// The client connects in the background and reconnects (1 s, doubling to 10 s) whenever the
// broker goes away or talks nonsense; the broker need not be there at start. Its own thread
// runs libmosquitto's network loop, because libmosquitto's loop_start thread ends for good on
// a malformed packet. Events go out with QoS 0, not
// retained: they are a live stream whose newest message supersedes the older ones. The
// retained `status` topic says "online", and the broker's last will turns it "offline" if the
// receiver vanishes without stopping.
//
// Thread safety: publish() and the getters from any thread. publish() never waits for the
// network: it hands the message to libmosquitto's own queue, or to the bounded backlog while
// disconnected. Construction and destruction on one thread; the destructor says "offline",
// disconnects and joins libmosquitto's thread. Throws std::runtime_error when libmosquitto
// cannot create a client.
class MQTTPublisher {
public:
    explicit MQTTPublisher(MQTTPublisherConfig config);
    ~MQTTPublisher();
    MQTTPublisher(const MQTTPublisher&) = delete;
    MQTTPublisher& operator=(const MQTTPublisher&) = delete;

    // Sends `payload` to vantirel/<name>/<leaf>.
    void publish(std::string_view leaf, std::string_view payload);

    bool isConnected() const { return connected.load(std::memory_order_relaxed); }
    std::uint64_t publishedMessages() const { return published.load(std::memory_order_relaxed); }
    std::uint64_t droppedMessages() const;
    std::uint64_t connections() const { return connectCount.load(std::memory_order_relaxed); }
    const MQTTBrokerAddress& broker() const { return config.broker; }
    const std::string& topicPrefix() const { return prefix; }

private:
    struct MosquittoDeleter {
        void operator()(mosquitto* client) const noexcept;
    };

    static void handleConnect(mosquitto* client, void* self, int result);
    static void handleDisconnect(mosquitto* client, void* self, int result);
    void run(std::stop_token stop);
    // Waits `delay` unless stopped first.
    void pause(std::chrono::milliseconds delay, const std::stop_token& stop);
    // Under `lock`; libmosquitto's result code.
    int send(const std::string& topic, std::string_view payload);

    MQTTPublisherConfig config;
    std::string prefix;  // "vantirel/<level>/"
    std::string statusTopic;

    mutable std::mutex lock;  // guards backlog and orders sends against (re)connection
    MQTTBacklog backlog;
    std::atomic<bool> connected{false};
    std::atomic<std::uint64_t> published{0};
    std::atomic<std::uint64_t> sendFailures{0};
    std::atomic<std::uint64_t> connectCount{0};

    std::mutex pauseLock;
    std::condition_variable_any pauseWake;
    std::atomic<bool> connectedOnce{false};  // a CONNACK since the last reconnection attempt

    std::unique_ptr<mosquitto, MosquittoDeleter> client;
    std::jthread thread;  // last: starts after, and is joined before, what it uses
};
