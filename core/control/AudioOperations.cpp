// The sound device and its silent stand-in (main thread).
#include "audio/AudioError.h"
#include "audio/AudioOutput.h"
#include "audio/NullAudioSink.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

constexpr double kAudioRateHz = 51'200.0;

}  // namespace

std::string SDRController::listeningText(double mhz) const {
    return formatString(audioOutputAvailable ? "Sluša %.4f MHz" : "Sluša %.4f MHz · bez zvuka",
                        mhz);
}

std::shared_ptr<AudioOutput> SDRController::openAudioOutput() {
    const auto volume = static_cast<float>(audioVolume());
    std::optional<std::string> problem;
    if (deps.audio) {
        try {
            auto output = std::make_shared<AudioOutput>(kAudioRateHz, volume, deps.audio);
            output->start();
            audioOutputAvailable = true;
            audioOutputProblem.reset();
            return output;
        } catch (const AudioError& error) {
            // No sound is no reason to stop receiving: spectrum, decoders and recordings run
            // on the silent sink.
            problem = error.describe();
            DebugLog::writef("AUDIO no sound device, playing silently: %s", problem->c_str());
        }
    }
    const AudioOutput::SinkFactory silent =
        deps.silentAudio ? deps.silentAudio : [](double rateHz) -> std::unique_ptr<AudioSink> {
        return std::make_unique<NullAudioSink>(NullAudioSinkConfig{.sampleRateHz = rateHz});
    };
    try {
        auto output = std::make_shared<AudioOutput>(kAudioRateHz, volume, silent);
        output->start();
        audioOutputAvailable = !problem;
        audioOutputProblem = problem;
        return output;
    } catch (const AudioError& error) {
        statusText = "Greška: " + error.describe();
        return nullptr;
    }
}

void SDRController::retryAudioOutput() {
    if (audioOutputAvailable || !deps.audio || !audioOutput) return;
    const bool wasListening = statusText == listeningText(frequencyMHz);
    try {
        audioOutput->replaceSink(deps.audio);
        audioOutputAvailable = true;
        audioOutputProblem.reset();
    } catch (const AudioError& error) {
        audioOutputProblem = error.describe();
    }
    if (wasListening) statusText = listeningText(frequencyMHz);
}
