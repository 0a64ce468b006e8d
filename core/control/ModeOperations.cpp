// ADS-B switching and recording (main thread).
#include <chrono>

#include "adsb/ADSBDecoder.h"
#include "adsb/ADSBTracker.h"
#include "audio/AudioRecorder.h"
#include "audio/IQRecorder.h"
#include "audio/RecordingFiles.h"
#include "control/SDRController.h"
#include "device/IQBuffer.h"
#include "device/RTLSDRDevice.h"
#include "platform/DebugLog.h"

void SDRController::setADSBEnabled(bool enabled) {
    if (enabled) {
        if (adsbEnabled()) return;
        adsbEnabledValue = true;
        wasDABStreamingBeforeADSB = dabStreamRunning;
        if (wasDABStreamingBeforeADSB) {
            preADSBDABFrequencyMHz = frequencyMHz.get();
            dabCancel = true;
        }
        preADSBFrequencyMHz = frequencyMHz.get();
        preADSBMode = mode.get();
        if (adsbDecoder) adsbDecoder->reset();
        if (adsbTracker) adsbTracker->reset();
        adsbAircraft.clear();
        frequencyMHz = 1090.0;
        if (isRunning && device) {
            // 1090 MHz is taken straight: no listening offset on the ADS-B pass.
            fmOffsetActive = false;
            device->setCenterFrequency(1'090'000'000u);
            if (sdrBuffer) sdrBuffer->clear();
            statusText = "ADS-B 1090 MHz";
        }
        return;
    }
    if (!adsbEnabled()) return;
    adsbEnabledValue = false;
    if (wasDABStreamingBeforeADSB && preADSBDABFrequencyMHz) {
        tune(*preADSBDABFrequencyMHz, false);
        startDABStreaming();
    } else if (preADSBFrequencyMHz) {
        tune(*preADSBFrequencyMHz, true);
    }
    if (preADSBMode) mode = *preADSBMode;
    preADSBFrequencyMHz.reset();
    preADSBMode.reset();
    preADSBDABFrequencyMHz.reset();
    wasDABStreamingBeforeADSB = false;
}

void SDRController::startRecording() {
    if (isRecording || !isRunning) return;
    const auto now = std::chrono::system_clock::now();
    const std::filesystem::path folder = recordingsDirectory(deps.documentsDir);
    createRecordingsDirectory(folder);

    std::shared_ptr<AudioRecorder> newAudio;
    std::shared_ptr<IQRecorder> newIQ;
    std::filesystem::path file;
    bool failed = false;
    if (recordingMode == "iq") {
        file = iqRecordingPath(deps.documentsDir, now);
        const double tunerMHz = fmOffsetActive ? frequencyMHz + fmOffsetHz / 1e6 : frequencyMHz.get();
        newIQ = std::make_shared<IQRecorder>(
            file, IQRecordingInfo{.centerFrequencyHz = tunerMHz * 1e6,
                                  .sampleRateHz = static_cast<double>(sampleRate),
                                  .startTime = now});
        failed = newIQ->hasFailed();
        pendingDABAudioRecordingURL.reset();
    } else {
        file = audioRecordingPath(deps.documentsDir, now);
        if (dabStreamRunning) {
            if (dabCurrentFormat) {
                // The decoder's channels: parametric stereo plays two from a mono core.
                newAudio = std::make_shared<AudioRecorder>(file, dabCurrentFormat->dac ? 48'000.0 : 32'000.0,
                                                           dabOutputChannels);
                pendingDABAudioRecordingURL.reset();
            } else {
                pendingDABAudioRecordingURL = file;
            }
        } else {
            // A stereo programme is recorded as two channels so header and data agree.
            const int channels = mode.get() == DemodMode::fm && stereoEnabled ? 2 : 1;
            newAudio = std::make_shared<AudioRecorder>(file, 51'200.0, channels);
            pendingDABAudioRecordingURL.reset();
        }
        failed = newAudio && newAudio->hasFailed();
    }
    if (failed) {
        // A recording that writes nothing is not reported as running.
        statusText = "Greška: ne mogu snimati u " + file.string();
        DebugLog::writef("recording cannot be created: %s", file.c_str());
        return;
    }
    {
        std::lock_guard lock(recorderLock);
        audioRecorder = newAudio;
        iqRecorder = newIQ;
    }
    lastRecordingURL = file;
    isRecording = true;
}

void SDRController::stopRecording() {
    if (!isRecording) return;
    isRecording = false;
    std::shared_ptr<AudioRecorder> oldAudio;
    std::shared_ptr<IQRecorder> oldIQ;
    {
        std::lock_guard lock(recorderLock);
        oldAudio.swap(audioRecorder);
        oldIQ.swap(iqRecorder);
    }
    // Closing drains queued IQ writes; the recorders keep close and write from overlapping.
    if (oldAudio) oldAudio->close();
    if (oldIQ) oldIQ->close();
    pendingDABAudioRecordingURL.reset();
}

void SDRController::handleRecorderLimit(const std::shared_ptr<AudioRecorder>& recorder) {
    std::shared_ptr<AudioRecorder> current;
    {
        std::lock_guard lock(recorderLock);
        current = audioRecorder;
    }
    if (!isRecording || current != recorder) return;  // already handled
    if (recorder->hasFailed()) {
        stopRecording();
        statusText = "Greška: snimanje prekinuto (pisanje nije uspjelo)";
        return;
    }
    const std::filesystem::path nextPath =
        audioRecordingPath(deps.documentsDir, std::chrono::system_clock::now());
    const auto next =
        std::make_shared<AudioRecorder>(nextPath, recorder->sampleRate(), recorder->channels());
    {
        std::lock_guard lock(recorderLock);
        audioRecorder = next;
    }
    recorder->close();
    lastRecordingURL = nextPath;
}
