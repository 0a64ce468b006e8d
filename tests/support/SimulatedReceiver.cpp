#include "support/SimulatedReceiver.h"

#include <cmath>
#include <numbers>
#include <random>

#include "audio/NullAudioSink.h"
#include "sim/DemoScene.h"

SimulatedReceiver::SimulatedReceiver(double s, std::shared_ptr<RFScene> world,
                                     std::filesystem::path docs)
    : speed(s), scene(world ? std::move(world) : makeDemoScene()) {
    dongle = std::make_shared<VirtualRtlSdr>(scene, VirtualRtlSdrConfig{.speed = speed});
    if (docs.empty()) {
        std::random_device rd;
        docs = std::filesystem::temp_directory_path() / ("vantirel-e2e-" + std::to_string(rd()));
        ownsDocuments = true;
    }
    documents = docs;
    std::filesystem::create_directories(documents);
    ControllerDeps deps;
    deps.dongle = [d = dongle] { return d; };
    deps.audio = [t = tee, sp = speed](double rate) -> std::unique_ptr<AudioSink> {
        return std::make_unique<NullAudioSink>(
            NullAudioSinkConfig{.sampleRateHz = rate, .speedFactor = sp, .tee = t});
    };
    deps.mainQueue = queue;
    deps.documentsDir = documents;
    controller = SDRController::create(std::move(deps));
}

SimulatedReceiver::~SimulatedReceiver() {
    controller.reset();
    if (ownsDocuments) std::filesystem::remove_all(documents);
}

bool SimulatedReceiver::waitFor(const std::function<bool()>& done, double signalSeconds) {
    // Signal time is what the dongle has delivered: a loaded machine slows the dongle and the
    // receiver alike, so a wait measured on the wall clock would end early in signal terms.
    const std::uint64_t target =
        dongle->sampleIndex() + static_cast<std::uint64_t>(signalSeconds * dongle->sampleRateHz());
    // A dongle that delivers nothing (not started, or stopped) would never reach the target.
    constexpr auto kStall = std::chrono::seconds(10);
    std::uint64_t lastIndex = dongle->sampleIndex();
    auto lastProgress = std::chrono::steady_clock::now();
    bool held = false;
    queue->runUntil(
        [&] {
            held = done();
            const std::uint64_t index = dongle->sampleIndex();
            const auto now = std::chrono::steady_clock::now();
            if (index != lastIndex) {
                lastIndex = index;
                lastProgress = now;
            }
            return held || index >= target || now - lastProgress > kStall;
        },
        std::chrono::hours(1));
    return held;
}

void SimulatedReceiver::run(double signalSeconds) {
    waitFor([] { return false; }, signalSeconds);
}

void SimulatedReceiver::discardAudio() {
    tee->drain();
}

AudioTee::Capture SimulatedReceiver::captureAudio(double signalSeconds) {
    tee->drain();
    const auto frames = static_cast<std::uint64_t>(signalSeconds * 51'200.0);
    const std::uint64_t target = tee->totalFrames() + frames;
    waitFor([&] { return tee->totalFrames() >= target; }, signalSeconds * 3.0 + 2.0);
    return tee->drain();
}

double tonePower(std::span<const float> samples, double toneHz, double sampleRateHz) {
    if (samples.empty()) return 0.0;
    const double w = 2.0 * std::numbers::pi * toneHz / sampleRateHz;
    double re = 0.0, im = 0.0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        re += samples[n] * std::cos(w * static_cast<double>(n));
        im -= samples[n] * std::sin(w * static_cast<double>(n));
    }
    const double amplitude = 2.0 * std::hypot(re, im) / static_cast<double>(samples.size());
    return amplitude * amplitude / 2.0;
}

double powerRatioDB(double a, double b) {
    return 10.0 * std::log10(std::max(a, 1e-30) / std::max(b, 1e-30));
}
