#include "control/SDRController.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "device/IQBuffer.h"
#include "device/RTLSDRDevice.h"
#include "device/RTLSDRError.h"
#include "platform/DebugLog.h"
#include "platform/ThreadSupport.h"

namespace {

std::string listeningText(double mhz) {
    return formatString("Sluša %.4f MHz", mhz);
}

// MHz to the dongle's unsigned 32-bit Hz, negative values clamped to 0.
std::uint32_t megahertzToTunerHz(double mhz) {
    const double hz = std::max(0.0, mhz) * 1'000'000.0;
    return static_cast<std::uint32_t>(std::min(hz, 4'294'967'295.0));
}

}  // namespace

std::shared_ptr<SDRController> SDRController::create(ControllerDeps deps) {
    std::shared_ptr<SDRController> controller(new SDRController(std::move(deps)));
    controller->initialise();
    return controller;
}

SDRController::SDRController(ControllerDeps d) : deps(std::move(d)) {
    if (!deps.mainQueue) deps.mainQueue = std::make_shared<MainQueue>();
    cpuMonitor = std::make_unique<CPUMonitor>();
    analysisQueue = std::make_unique<SerialQueue>("analysis", ThreadPriority::utility);
    dabMscQueue = std::make_unique<SerialQueue>("dab.msc.queue", ThreadPriority::userInitiated);
    epgQueue = std::make_unique<SerialQueue>("dab.epg.queue", ThreadPriority::utility);
}

void SDRController::initialise() {
    std::weak_ptr<SDRController> weak = weak_from_this();
    cpuTimer = deps.mainQueue->addRepeatingTimer(1.0, [weak] {
        if (auto self = weak.lock()) {
            if (const std::optional<double> percent = self->cpuMonitor->sample())
                self->cpuUsagePercent = *percent;
        }
    });
}

SDRController::~SDRController() {
    deps.mainQueue->cancelTimer(cpuTimer);
    shouldStop = true;
    if (device) device->stopStreaming();
    joinWorkers();
    if (device) device->close();
    // The work queues drain and join in their destructors; their tasks hold us only weakly.
}

void SDRController::postToMain(std::function<void(SDRController&)> fn) {
    std::weak_ptr<SDRController> weak = weak_from_this();
    deps.mainQueue->post([weak, fn = std::move(fn)] {
        if (auto self = weak.lock()) fn(*self);
    });
}

void SDRController::joinWorkers() {
    for (std::thread* t : {&readerThread, &processingThread, &rdsThread, &aprsThread})
        if (t->joinable()) t->join();
}

std::uint64_t SDRController::samplesReceived() const {
    return sdrBuffer ? sdrBuffer->totalWritten() : 0;
}

// ---- start / stop ----

void SDRController::start() {
    if (isRunning) return;
    // Threads of an earlier run ended in stop(); a reader that failed on its own is joined
    // here so no old thread sees the flags reset below.
    joinWorkers();

    auto buffer = std::make_shared<IQBuffer>(iqBufferCapacity);
    std::shared_ptr<RtlSdrApi> api = deps.dongle ? deps.dongle() : nullptr;
    if (!api) {
        statusText = "Greška: " + RTLSDRError::deviceNotFound().describe();
        return;
    }
    auto newDevice = std::make_shared<RTLSDRDevice>(api, buffer);
    try {
        newDevice->open(0);
        fmOffsetActive = true;
        ncoResetRequested = true;
        newDevice->configure(megahertzToTunerHz(frequencyMHz + fmOffsetHz / 1e6), sampleRate,
                             false);
        // Apply the user's gain choice rather than a fixed gain the window would not show.
        newDevice->setGainMode(!agcEnabled());
        if (!agcEnabled()) newDevice->setManualGain(static_cast<int>(manualGainTenthsDB()));
        newDevice->setFrequencyCorrection(frequencyCorrectionPPM);
    } catch (const RTLSDRError& error) {
        newDevice->close();
        statusText = "Greška: " + error.describe();
        return;
    }

    device = newDevice;
    sdrBuffer = buffer;
    clearRDSProperties();
    blockCount = 0;
    shouldStop = false;

    std::weak_ptr<SDRController> weak = weak_from_this();
    // The reader keeps the device alive while streaming blocks, as the dongle requires.
    readerThread = std::thread([weak, dev = device, queue = deps.mainQueue] {
        configureCurrentThread("RTLSDRReader", ThreadPriority::userInteractive);
        try {
            dev->startStreaming();
        } catch (const RTLSDRError& error) {
            const std::string text = "Greška strujanja: " + error.describe();
            DebugLog::write(text);
            queue->post([weak, text] {
                if (auto self = weak.lock()) self->statusText = text;
            });
        }
    });
    processingThread = std::thread([this] {
        configureCurrentThread("Processing", ThreadPriority::userInteractive);
        processingLoop();
    });
    rdsThread = std::thread([this] {
        configureCurrentThread("RDS", ThreadPriority::utility);
        rdsLoop();
    });
    aprsThread = std::thread([this] {
        configureCurrentThread("APRS", ThreadPriority::utility);
        aprsLoop();
    });

    isRunning = true;
    statusText = listeningText(frequencyMHz);
}

void SDRController::stop() {
    if (!isRunning) return;
    shouldStop = true;
    if (device) device->stopStreaming();
    // Join before closing: the dongle must not be closed under a running reader.
    joinWorkers();
    if (device) device->close();
    isRunning = false;
    statusText = "Zaustavljeno";
}

// ---- tuning ----

void SDRController::tune(double toMHz, bool applyOffsetCorrection) {
    frequencyMHz = toMHz;
    if (!isRunning || !device) return;
    fmOffsetActive = applyOffsetCorrection;
    ncoResetRequested = true;
    const double tunerMHz = applyOffsetCorrection ? toMHz + fmOffsetHz / 1e6 : toMHz;
    device->setCenterFrequency(megahertzToTunerHz(tunerMHz));
    if (sdrBuffer) sdrBuffer->clear();
    clearRDSProperties();
    statusText = listeningText(toMHz);
}

void SDRController::adjustFrequencyContinuous(double byHz) {
    tune(std::max(0.0, frequencyMHz + byHz / 1'000'000.0), true);
}

void SDRController::selectStation(const RadioStation& station) {
    selectedStationID = station.id;
    if (dabStreamRunning) dabCancel = true;
    tune(station.frequencyMHz, true);
    if (!isRunning) start();
}

void SDRController::stopDABStreaming(bool returnToFM) {
    if (returnToFM) dabReturnToFMOnStop = true;
    dabCancel = true;
}

// ---- property side effects ----

void SDRController::clearRDSProperties() {
    rdsStationName.reset();
    rdsRadioText.reset();
    rdsProgramType.reset();
    rdsPICode.reset();
    rdsTP = false;
    rdsTA = false;
}

void SDRController::setRdsEnabled(bool enabled) {
    rdsEnabledValue = enabled;
    if (!enabled) clearRDSProperties();
}

void SDRController::setAgcEnabled(bool enabled) {
    agcEnabledValue = enabled;
    if (!device) return;
    device->setGainMode(!enabled);
    if (!enabled) device->setManualGain(static_cast<int>(manualGainTenthsDB()));
}

void SDRController::setManualGainTenthsDB(double tenthsDB) {
    manualGainTenthsDBValue = tenthsDB;
    if (!agcEnabled() && device) device->setManualGain(static_cast<int>(tenthsDB));
}

void SDRController::setAudioVolume(double volume) {
    audioVolumeValue = volume;
}

void SDRController::setIsNarrowbandFM(bool narrow) {
    isNarrowbandFMValue = narrow;
}

void SDRController::setFrequencyCorrectionPPM(int ppm) {
    frequencyCorrectionPPM = ppm;
    if (device) device->setFrequencyCorrection(ppm);
}

// ---- worker loops ----

void SDRController::processingLoop() {
    using namespace std::chrono_literals;
    while (!shouldStop) {
        if (streamClaimed()) {
            std::this_thread::sleep_for(50ms);
            continue;
        }
        // The analog chain and the ADS-B decoder are not wired yet: idle as for missing objects.
        std::this_thread::sleep_for(50ms);
    }
}

void SDRController::rdsLoop() {
    using namespace std::chrono_literals;
    while (!shouldStop) std::this_thread::sleep_for(5ms);
}

void SDRController::aprsLoop() {
    using namespace std::chrono_literals;
    while (!shouldStop) std::this_thread::sleep_for(10ms);
}
