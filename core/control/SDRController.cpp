#include "control/SDRController.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "adsb/ADSBDecoder.h"
#include "adsb/ADSBTracker.h"
#include "aprs/APRSDecoder.h"
#include "audio/AudioOutput.h"
#include "audio/AudioRecorder.h"
#include "audio/IQRecorder.h"
#include "audio/RecordingFiles.h"
#include "dab/DABStreamSession.h"
#include "device/IQBuffer.h"
#include "device/RTLSDRDevice.h"
#include "device/RTLSDRError.h"
#include "dsp/AMDemodulator.h"
#include "dsp/ChannelFilter.h"
#include "dsp/DCBlockFilter.h"
#include "dsp/DeEmphasisFilter.h"
#include "dsp/Decimator.h"
#include "dsp/FFTAnalyzer.h"
#include "dsp/FMDemodulator.h"
#include "dsp/NoiseBlanker.h"
#include "dsp/StereoAudioTools.h"
#include "dsp/StereoDecoder.h"
#include "platform/DebugLog.h"
#include "rds/RDSDemodulator.h"
#include "rds/RDSGroupDecoder.h"
#include "rds/RDSSampleQueue.h"
#include "platform/ThreadSupport.h"

namespace {

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

SDRController::SDRController(ControllerDeps d)
    : deps(std::move(d)), bookmarkStore(deps.documentsDir) {
    if (!deps.mainQueue) deps.mainQueue = std::make_shared<MainQueue>();
    cpuMonitor = std::make_unique<CPUMonitor>();
    analysisQueue = std::make_unique<SerialQueue>("analysis", ThreadPriority::utility);
    dabMscQueue = std::make_unique<SerialQueue>("dab.msc.queue", ThreadPriority::userInitiated);
    epgQueue = std::make_unique<SerialQueue>("dab.epg.queue", ThreadPriority::utility);
}

void SDRController::initialise() {
    stations = bookmarkStore.load();
    if (!stations.empty()) selectedStationID = stations.front().id;
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
    shouldStopScan = true;
    dabCancel = true;
    dabSession.reset();
    closeStreams();
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
    for (std::thread* t : {&scanThread, &dabScanThread, &readerThread, &processingThread, &rdsThread, &aprsThread})
        if (t->joinable()) t->join();
}

void SDRController::closeStreams() {
    if (sdrBuffer) sdrBuffer->close();
    if (rdsQueue) rdsQueue->close();
    if (aprsQueue) aprsQueue->close();
}

std::uint64_t SDRController::samplesReceived() const {
    return sdrBuffer ? sdrBuffer->totalWritten() : 0;
}

std::uint64_t SDRController::samplesProcessed() const {
    return sdrBuffer ? sdrBuffer->totalRead() : 0;
}

std::uint64_t SDRController::droppedSamples() const {
    return sdrBuffer ? sdrBuffer->droppedSamples() : 0;
}

std::uint64_t SDRController::rdsGroupCount() const {
    return rdsGroupDecoder ? rdsGroupDecoder->groupCount() : 0;
}

// ---- start / stop ----

void SDRController::start() {
    if (isRunning) return;
    // Threads of an earlier run ended in stop(); a reader that failed on its own is joined
    // here so no old thread sees the flags reset below.
    joinWorkers();

    std::shared_ptr<RtlSdrApi> api = deps.dongle ? deps.dongle() : nullptr;
    if (!api) {
        statusText = "Greška: " + RTLSDRError::deviceNotFound().describe();
        return;
    }
    const OverflowPolicy overflow =
        api->canWaitForReader() ? OverflowPolicy::waitForReader : OverflowPolicy::dropOldest;
    auto buffer = std::make_shared<IQBuffer>(iqBufferCapacity, overflow);
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

    std::shared_ptr<AudioOutput> output = openAudioOutput();
    if (!output) {
        newDevice->close();
        return;
    }

    device = newDevice;
    sdrBuffer = buffer;
    streamOverflow = overflow;
    audioOutput = output;
    createAnalogChain();
    wireRDSCallbacks();
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
    shouldStopScan = true;
    dabCancel = true;
    if (dabSession) dabSession->requestStop();
    // Before the joins: a recording's reader may be waiting for room that no loop will make.
    closeStreams();
    if (device) device->stopStreaming();
    // Join before closing: the dongle must not be closed under a running reader.
    if (dabSession) dabSession->join();
    joinWorkers();
    if (device) device->close();
    isRunning = false;
    statusText = "Zaustavljeno";
}

void SDRController::createAnalogChain() {
    fmDemodulator = std::make_unique<FMDemodulator>(isNarrowbandFM() ? narrowFMGain : wideFMGain);
    amDemodulator = std::make_unique<AMDemodulator>(channelRateHz);
    channelFilter = std::make_unique<ChannelFilter>(
        ChannelFilterMode::wideFM,
        ChannelFilterConfig{.inputRateHz = sampleRate, .decimation = channelDecimationFactor});
    iqDCBlocker.reset();
    multiplexEqualizer.reset();
    noiseBlanker = std::make_unique<NoiseBlanker>(static_cast<float>(nbThreshold.get()));
    audioTools = std::make_unique<StereoAudioTools>(StereoAudioTools::Config{
        .noiseReductionAmount = static_cast<float>(nrAmount.get()),
        .notch = {.sampleRate = 51'200.0, .frequencyHz = notchFrequencyHz, .q = 10.0}});
    appliedNBThreshold = nbThreshold;
    appliedNRAmount = nrAmount;
    appliedNotchHz = notchFrequencyHz;
    decimator = std::make_unique<Decimator>(audioDecimationFactor, channelRateHz);
    const DeEmphasisFilter::Config deEmphasisConfig{.sampleRate = 51'200.0, .timeConstantMicroseconds = 50.0};
    deEmphasis = std::make_unique<DeEmphasisFilter>(deEmphasisConfig);
    dcBlock = std::make_unique<DCBlockFilter>();
    stereoDecoder = std::make_unique<StereoDecoder>(channelRateHz);
    stereoPathActive = false;
    leftDecimator = std::make_unique<Decimator>(audioDecimationFactor, channelRateHz);
    rightDecimator = std::make_unique<Decimator>(audioDecimationFactor, channelRateHz);
    leftDeEmphasis = std::make_unique<DeEmphasisFilter>(deEmphasisConfig);
    rightDeEmphasis = std::make_unique<DeEmphasisFilter>(deEmphasisConfig);
    leftDCBlock = std::make_unique<DCBlockFilter>();
    rightDCBlock = std::make_unique<DCBlockFilter>();

    rdsDemodulator = std::make_unique<RDSDemodulator>(channelRateHz);
    rdsGroupDecoder = std::make_unique<RDSGroupDecoder>();
    rdsQueue = std::make_unique<RDSSampleQueue>(20, streamOverflow);

    aprsDecoder = std::make_unique<APRSDecoder>(51'200.0);
    aprsDecoder->onPacket = [weak = weak_from_this(), queue = deps.mainQueue,
                             listeners = aprsListeners](const APRSPacket& packet) {
        listeners->notify(packet);
        queue->post([weak, packet] {
            auto self = weak.lock();
            if (!self) return;
            self->aprsPackets.insert(self->aprsPackets.begin(), packet);
            if (self->aprsPackets.size() > 50) self->aprsPackets.resize(50);
        });
    };
    aprsQueue = std::make_unique<RDSSampleQueue>(20, streamOverflow);

    fftAnalyzer = std::make_shared<FFTAnalyzer>(1'024);
    audioFFTAnalyzer = std::make_shared<FFTAnalyzer>(256);
    audioAccum.clear();
    adsbDecoder = std::make_unique<ADSBDecoder>();
    adsbTracker = std::make_unique<ADSBTracker>();
    adsbDecoder->onMessage = [tracker = adsbTracker.get(),
                              listeners = adsbListeners](const DecodedADSBMessage& message) {
        listeners->notify(tracker->handle(message));
    };
    waterfallHistory.clear();
    // The display state belongs to the analysis queue: reset it there, behind older work.
    analysisQueue->async([state = analysisState] { *state = AnalysisState{}; });
}

void SDRController::wireRDSCallbacks() {
    std::weak_ptr<SDRController> weak = weak_from_this();
    auto generation = rdsGeneration;
    // Each result carries the generation it was decoded in; a reset since then discards it.
    const auto publish = [weak, generation, queue = deps.mainQueue](auto assign) {
        const std::uint64_t decodedIn = generation->load();
        queue->post([weak, generation, decodedIn, assign] {
            auto self = weak.lock();
            if (!self || generation->load() != decodedIn || !self->rdsEnabled()) return;
            assign(*self);
        });
    };
    rdsGroupDecoder->onPSNameUpdated = [publish, scan = scanPS](const std::string& name) {
        DebugLog::writef("📻 RDS PS: %s", name.c_str());
        scan->set(name);
        publish([name](SDRController& c) {
            c.rdsStationName = name;
            c.updateFoundStationLabelIfMatching(name);
        });
    };
    rdsGroupDecoder->onRadioTextUpdated = [publish](const std::string& text) {
        DebugLog::writef("📻 RDS RT: %s", text.c_str());
        publish([text](SDRController& c) { c.rdsRadioText = text; });
    };
    rdsGroupDecoder->onPTYUpdated = [publish](const std::string& pty) {
        DebugLog::writef("📻 RDS PTY: %s", pty.c_str());
        publish([pty](SDRController& c) { c.rdsProgramType = pty; });
    };
    rdsGroupDecoder->onPICodeUpdated = [publish](const std::string& pi) {
        DebugLog::writef("📻 RDS PI: %s", pi.c_str());
        publish([pi](SDRController& c) { c.rdsPICode = pi; });
    };
    rdsGroupDecoder->onTPUpdated = [publish](bool tp) {
        DebugLog::writef("📻 RDS TP: %d", tp ? 1 : 0);
        publish([tp](SDRController& c) { c.rdsTP = tp; });
    };
    rdsGroupDecoder->onTAUpdated = [publish](bool ta) {
        DebugLog::writef("📻 RDS TA: %d", ta ? 1 : 0);
        publish([ta](SDRController& c) { c.rdsTA = ta; });
    };
    rdsGroupDecoder->onProgrammeUpdated = [publish](const RDSProgrammeInfo& info) {
        publish([info](SDRController& c) { c.rdsDetails = info; });
    };
    rdsGroupDecoder->onStatistics = [publish, demod = rdsDemodulator.get()](const RDSGroupStatistics& stats) {
        // Called from inside the demodulator's bit callback, so its state is current.
        const bool pilotLocked = demod->pilotLocked();
        publish([stats, pilotLocked](SDRController& c) {
            c.rdsStatistics = stats;
            c.rdsPilotLocked = pilotLocked;
        });
    };
    rdsGroupDecoder->onGroup = [listeners = rdsGroupListeners](const RDSGroupReport& group,
                                                               const RDSProgrammeInfo& station) {
        listeners->notify(group, station);
    };
    rdsDemodulator->onDataBit = [decoder = rdsGroupDecoder.get()](int bit) { decoder->processBit(bit); };
}

void SDRController::resetRDS() {
    if (rdsQueue) rdsQueue->clear();
    if (rdsDemodulator) rdsDemodulator->reset();
    if (rdsGroupDecoder) rdsGroupDecoder->reset();
    rdsGeneration->fetch_add(1);
    clearRDSProperties();
}

// ---- tuning ----

void SDRController::tune(double toMHz, bool applyOffsetCorrection) {
    frequencyMHz = toMHz;
    if (!isRunning || !device) return;
    fmOffsetActive = applyOffsetCorrection;
    ncoResetRequested = true;
    stereoResetRequested = true;
    const double tunerMHz = applyOffsetCorrection ? toMHz + fmOffsetHz / 1e6 : toMHz;
    device->setCenterFrequency(megahertzToTunerHz(tunerMHz));
    if (sdrBuffer) sdrBuffer->clear();
    resetRDS();
    statusText = listeningText(toMHz);
}

void SDRController::adjustFrequencyContinuous(double byHz) {
    tune(std::max(0.0, frequencyMHz + byHz / 1'000'000.0), true);
}

void SDRController::selectStation(const RadioStation& station) {
    selectedStationID = station.id;
    if (dabStreamRunning) stopDABStreaming(false);
    tune(station.frequencyMHz, true);
    if (!isRunning) start();
}

// ---- property side effects ----

void SDRController::clearRDSProperties() {
    rdsStationName.reset();
    rdsRadioText.reset();
    rdsProgramType.reset();
    rdsPICode.reset();
    rdsTP = false;
    rdsTA = false;
    rdsDetails = {};
    rdsStatistics = {};
    rdsPilotLocked = false;
}

void SDRController::setRdsEnabled(bool enabled) {
    rdsEnabledValue = enabled;
    if (!enabled) resetRDS();
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
    if (audioOutput) audioOutput->setVolume(static_cast<float>(volume));
}

void SDRController::setIsNarrowbandFM(bool narrow) {
    isNarrowbandFMValue = narrow;
    if (fmDemodulator) fmDemodulator->setGain(narrow ? narrowFMGain : wideFMGain);
}

void SDRController::setFrequencyCorrectionPPM(int ppm) {
    frequencyCorrectionPPM = ppm;
    if (device) device->setFrequencyCorrection(ppm);
}

