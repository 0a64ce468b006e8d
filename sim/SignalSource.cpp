#include "sim/SignalSource.h"

#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "audio/AudioSink.h"
#include "audio/NullAudioSink.h"
#include "audio/PortAudioSink.h"
#include "device/FileRtlSdrApi.h"
#include "device/LibRtlSdrApi.h"
#include "device/RtlTcpApi.h"
#include "sim/DemoScene.h"
#include "sim/VirtualRtlSdr.h"

namespace {

SignalSource simulatedSource(double speed, std::string description) {
    // One simulated world for the whole run: its stations keep their programme time across
    // stop and start, as real transmitters do.
    auto dongle = std::make_shared<VirtualRtlSdr>(makeDemoScene(), VirtualRtlSdrConfig{.speed = speed});
    SignalSource source;
    source.dongle = [dongle] { return dongle; };
    source.description = std::move(description);
    source.isSimulated = true;
    return source;
}

}  // namespace

SignalSource makeSignalSource(const SignalSourceOptions& options) {
    SignalSource source;
    const std::string& choice = options.choice;
    if (choice == "sim") {
        source = simulatedSource(options.speed, "Simulated dongle");
    } else if (choice == "rtlsdr") {
        auto api = std::make_shared<LibRtlSdrApi>(options.dongle);
        source.dongle = [api] { return api; };
        source.description = "RTL-SDR USB v4 · R828D";
    } else if (choice == "auto") {
        auto api = std::make_shared<LibRtlSdrApi>(options.dongle);
        if (api->getDeviceCount() > 0) {
            source.dongle = [api] { return api; };
            source.description = "RTL-SDR USB v4 · R828D";
        } else
            source = simulatedSource(options.speed, "Simulated dongle (no dongle attached)");
    } else if (choice.starts_with("rtltcp://")) {
        std::string why;
        const std::optional<RtlTcpAddress> address = parseRtlTcpAddress(choice, why);
        if (!address) throw std::invalid_argument(why);
        auto api = std::make_shared<RtlTcpApi>(RtlTcpApiConfig{.address = *address});
        source.dongle = [api] { return api; };
        source.description = "rtl_tcp " + choice.substr(std::string_view("rtltcp://").size());
    } else {
        FileRtlSdrOptions fileOptions{.path = choice,
                                      .sampleRateHz = options.recordingSampleRateHz,
                                      .speed = options.speed};
        if (options.recordingCenterMHz) fileOptions.centerFrequencyHz = *options.recordingCenterMHz * 1e6;
        auto api = std::make_shared<FileRtlSdrApi>(fileOptions);
        if (!api->lastError().empty()) throw std::invalid_argument(api->lastError());
        source.dongle = [api] { return api; };
        source.description = "Snimka: " + std::filesystem::path(choice).filename().string();
    }

    // A dongle runs in real time; the simulated world and recordings at the chosen speed.
    const double speed = source.isSimulated || choice != "rtlsdr" ? options.speed : 1.0;
    source.silentAudio = [speed](double rate) -> std::unique_ptr<AudioSink> {
        return std::make_unique<NullAudioSink>(
            NullAudioSinkConfig{.sampleRateHz = rate, .speedFactor = speed});
    };
    if (options.audio) {
        source.audio = [device = options.audioDevice](double rate) -> std::unique_ptr<AudioSink> {
            return std::make_unique<PortAudioSink>(rate, device);
        };
    } else {
        source.audio = source.silentAudio;
    }
    return source;
}
