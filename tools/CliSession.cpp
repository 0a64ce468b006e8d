#include "CliSession.h"

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <stdexcept>

#include "platform/UserPaths.h"

CliSession::CliSession(const CliArgs& args, bool playsSound, std::shared_ptr<AudioTee> tee)
    : speed(args.speed > 0 ? args.speed : throw std::invalid_argument("--speed must be positive")),
      seconds(args.seconds),
      mainQueue(std::make_shared<MainQueue>()),
      signalSource(makeSignalSource({.choice = args.source,
                                     .speed = args.speed,
                                     .recordingCenterMHz = args.recordingCenterMHz,
                                     .recordingSampleRateHz = args.recordingSampleRateHz,
                                     .audio = playsSound && !args.hasFlag("no-audio"),
                                     .audioTee = std::move(tee)})) {
    ControllerDeps deps{
        .dongle = signalSource.dongle,
        .audio = signalSource.audio,
        .silentAudio = signalSource.silentAudio,
        .mainQueue = mainQueue,
        .documentsDir = args.documents ? std::filesystem::path(*args.documents)
                                       : UserPaths::documentsDir(),
    };
    sdrController = SDRController::create(std::move(deps));
}

CliSession::~CliSession() {
    sdrController->stop();
}

bool CliSession::runUntil(const std::function<bool()>& done, double signalSeconds) {
    return mainQueue->runUntil(done, std::chrono::duration<double>(signalSeconds / speed));
}

double CliSession::signalSecondsLeft() const {
    if (!seconds) return 3600.0;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return std::max(0.0, *seconds - elapsed * speed);
}

void CliSession::run(const std::function<void(double samplesPerSecond)>& tick) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration<double>(1.0 / speed);
    auto next = Clock::now() + std::chrono::duration_cast<Clock::duration>(period);
    std::uint64_t lastSamples = sdrController->samplesReceived();
    for (int elapsed = 1;; ++elapsed) {
        mainQueue->runUntil([&] { return Clock::now() >= next; },
                            std::chrono::duration<double>(next - Clock::now()));
        const std::uint64_t samples = sdrController->samplesReceived();
        tick(static_cast<double>(samples - lastSamples));
        lastSamples = samples;
        if (seconds && elapsed >= *seconds) return;
        next += std::chrono::duration_cast<Clock::duration>(period);
    }
}

void printJSONLine(const nlohmann::json& j) {
    const std::string line = j.dump();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
