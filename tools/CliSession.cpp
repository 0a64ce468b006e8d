#include "CliSession.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "control/RigControlAdapter.h"
#include "platform/UserPaths.h"

namespace {

// A source that delivers nothing for this long has stopped (a failed read, an unplugged
// dongle); the run ends rather than wait forever. Wall time, as only a stall is measured.
constexpr std::chrono::seconds kStallLimit{10};
constexpr double kSampleRateHz = SDRController::sampleRate;

std::optional<std::uint16_t> rigctlPort(const CliArgs& args) {
    const std::optional<double> port = args.number("rigctl-port");
    if (!port) return std::nullopt;
    if (*port < 0 || *port > 65'535 || *port != static_cast<int>(*port))
        throw std::invalid_argument("--rigctl-port needs a port from 0 to 65535");
    return static_cast<std::uint16_t>(*port);
}

std::uint64_t secondsToSamples(double seconds) {
    return static_cast<std::uint64_t>(std::llround(seconds * kSampleRateHz));
}

}  // namespace

CliSession::CliSession(const CliArgs& args, bool playsSound, AudioTap audioTap, DABAudioTap dabAudioTap)
    : seconds(args.seconds),
      mainQueue(std::make_shared<MainQueue>()),
      signalSource(makeSignalSource({.choice = args.source,
                                     .speed = args.speed,
                                     .recordingCenterMHz = args.recordingCenterMHz,
                                     .recordingSampleRateHz = args.recordingSampleRateHz,
                                     .audio = playsSound && !args.hasFlag("no-audio")})) {
    ControllerDeps deps{
        .dongle = signalSource.dongle,
        .audio = signalSource.audio,
        .silentAudio = signalSource.silentAudio,
        .mainQueue = mainQueue,
        .documentsDir =
            args.documents ? std::filesystem::path(*args.documents) : UserPaths::documentsDir(),
        .audioTap = std::move(audioTap),
        .dabAudioTap = std::move(dabAudioTap),
    };
    sdrController = SDRController::create(std::move(deps));
    if (const std::optional<std::uint16_t> port = rigctlPort(args)) {
        rigctlServer = std::make_unique<RigctlServer>(
            RigctlServerConfig{.bindAddress = args.text("bind").value_or("127.0.0.1"), .port = *port},
            RigControlAdapter(sdrController).receiver());
        std::fprintf(stderr, "vantirel-cli: rigctl server on %s port %u\n",
                     rigctlServer->bindAddress().c_str(), unsigned{rigctlServer->port()});
    }
    mqttFeed = std::make_unique<MQTTFeed>(sdrController);
    if (args.mqttBroker) {
        const MQTTBrokerAddress broker = parseMQTTBroker(*args.mqttBroker);
        mqttFeed->start({.host = broker.host,
                         .port = broker.port,
                         .receiverName = args.mqttName.value_or("")});
    }
}

CliSession::~CliSession() {
    // First, so no command waits on a main queue that is no longer pumped.
    if (rigctlServer) rigctlServer->stop();
    mqttFeed->stop();
    sdrController->stop();
}

double CliSession::processedSeconds() const {
    return static_cast<double>(sdrController->samplesProcessed()) / kSampleRateHz;
}

CliSession::Wait CliSession::pumpUntil(std::uint64_t processed, const std::function<bool()>& done) {
    std::uint64_t last = sdrController->samplesProcessed();
    for (;;) {
        const bool finished = mainQueue->runUntil(
            [&] { return sdrController->samplesProcessed() >= processed || (done && done()); },
            kStallLimit);
        if (done && done()) return Wait::done;
        const std::uint64_t now = sdrController->samplesProcessed();
        if (finished || now >= processed) return Wait::reached;
        if (now == last) return Wait::stalled;
        last = now;
    }
}

bool CliSession::runUntil(const std::function<bool()>& done, double signalSeconds) {
    const std::uint64_t target =
        sdrController->samplesProcessed() + secondsToSamples(signalSeconds);
    return pumpUntil(target, done) == Wait::done;
}

double CliSession::signalSecondsLeft() const {
    if (!seconds) return 3600.0;
    return std::max(0.0, *seconds - processedSeconds());
}

void CliSession::run(const std::function<void(double samplesPerSecond)>& tick) {
    const std::uint64_t end = seconds ? secondsToSamples(*seconds) : UINT64_MAX;
    std::uint64_t lastProcessed = sdrController->samplesProcessed();
    std::uint64_t lastReceived = sdrController->samplesReceived();
    // Ticks fall on whole signal seconds, however far a pump overshoots one.
    std::uint64_t due = lastProcessed;
    for (;;) {
        due = std::min(end, due + secondsToSamples(1.0));
        if (pumpUntil(due, nullptr) == Wait::stalled) {
            std::fprintf(stderr, "vantirel-cli: the source stopped delivering samples\n");
            return;
        }
        const std::uint64_t processed = sdrController->samplesProcessed();
        const std::uint64_t received = sdrController->samplesReceived();
        mqttFeed->poll();
        const double tickSeconds = static_cast<double>(processed - lastProcessed) / kSampleRateHz;
        tick(tickSeconds > 0 ? static_cast<double>(received - lastReceived) / tickSeconds : 0.0);
        lastProcessed = processed;
        lastReceived = received;
        if (processed >= end) return;
    }
}

void printJSONLine(const nlohmann::json& j) {
    const std::string line = j.dump();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
