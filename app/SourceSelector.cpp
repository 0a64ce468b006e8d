#include "SourceSelector.h"

#include <filesystem>

#include "audio/AudioSink.h"
#include "device/RtlSdrApi.h"

namespace {

SourceSelector::Kind kindOf(const SignalSourceOptions& options, const SignalSource& source) {
    if (source.isSimulated) return SourceSelector::Kind::simulated;
    if (options.choice == "rtlsdr" || options.choice == "auto") return SourceSelector::Kind::dongle;
    if (options.choice.rfind("rtltcp://", 0) == 0) return SourceSelector::Kind::network;
    return SourceSelector::Kind::file;
}

}  // namespace

SourceSelector::SourceSelector(SignalSourceOptions initial)
    : currentOptions(initial), current(std::make_shared<SignalSource>(makeSignalSource(initial))),
      currentKind(kindOf(initial, *current)) {}

void SourceSelector::choose(SignalSourceOptions options) {
    SignalSource next = makeSignalSource(options);
    currentKind = kindOf(options, next);
    *current = std::move(next);
    currentOptions = std::move(options);
}

std::function<std::shared_ptr<RtlSdrApi>()> SourceSelector::dongleFactory() {
    return [slot = current]() -> std::shared_ptr<RtlSdrApi> {
        return slot->dongle ? slot->dongle() : nullptr;
    };
}

std::function<std::unique_ptr<AudioSink>(double rate)> SourceSelector::audioFactory() {
    return [slot = current](double rate) -> std::unique_ptr<AudioSink> {
        return slot->audio ? slot->audio(rate) : nullptr;
    };
}

std::function<std::unique_ptr<AudioSink>(double rate)> SourceSelector::silentAudioFactory() {
    return [slot = current](double rate) -> std::unique_ptr<AudioSink> {
        return slot->silentAudio ? slot->silentAudio(rate) : nullptr;
    };
}

std::string SourceSelector::deviceLine() const {
    switch (currentKind) {
    case Kind::dongle: return "RTL-SDR USB v4";
    case Kind::simulated: return "Simulated dongle";
    case Kind::network: return current->description;
    case Kind::file: return std::filesystem::path(currentOptions.choice).filename().string();
    }
    return {};
}

std::string SourceSelector::tunerLine() const {
    switch (currentKind) {
    case Kind::dongle: return "R828D Tuner";
    case Kind::simulated: return "Demo world, no hardware";
    case Kind::network: return "Network dongle (rtl_tcp)";
    case Kind::file: return "IQ recording";
    }
    return {};
}
