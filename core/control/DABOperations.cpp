// The controller's DAB operations: the band scan, the stream session and what they publish.
#include <algorithm>
#include <cmath>

#include "audio/AudioOutput.h"
#include "audio/AudioRecorder.h"
#include "audio/IQRecorder.h"
#include "control/SDRController.h"
#include "dab/DABBandScanner.h"
#include "dab/DABEnsembleTables.h"
#include "dab/DABStreamSession.h"
#include "device/IQBuffer.h"
#include "device/RTLSDRDevice.h"
#include "platform/DebugLog.h"
#include "platform/ThreadSupport.h"
#include "platform/UserPaths.h"

namespace {

constexpr double kDABGainTenthsDB = 320.0;
constexpr double kDefaultFMReturnMHz = 92.1;
constexpr double kDABHalfBandwidthHz = 768'000.0;
// Every sixth pumped block feeds the spectrum and waterfall, as the analog loop's cadence.
constexpr std::uint64_t kSpectrumEvery = 6;

bool insideBandIII(double mhz) { return mhz >= 170.0 && mhz <= 245.0; }

}  // namespace

float SDRController::estimateDABSNR(std::span<const IQSample> samples) { return dabtables::estimateDABSNR(samples); }
float SDRController::estimatePowerDB(std::span<const IQSample> samples) { return dabtables::estimatePowerDB(samples); }
int SDRController::parseFICCRCCount(const std::string& status) { return dabtables::parseFICCRCCount(status); }
DABEnsembleInfo SDRController::mergeServiceLabels(const std::optional<DABEnsembleInfo>& original,
                                                  const DABEnsembleInfo& update) {
    return dabtables::mergeServiceLabels(original, update);
}
std::vector<DABServiceInfo> SDRController::buildServiceInfos(const DABEnsembleInfo& ensemble,
                                                             const std::vector<DABServiceInfo>& rows) {
    return dabtables::buildServiceInfos(ensemble, rows);
}
std::vector<DABSubchannelInfo> SDRController::buildSubchannelInfos(const DABEnsembleInfo& ensemble,
                                                                   const std::vector<DABServiceInfo>& rows) {
    return dabtables::buildSubchannelInfos(ensemble, rows);
}

void SDRController::tuneDeviceForDAB(double mhz) {
    if (!device) return;
    device->setCenterFrequency(static_cast<std::uint32_t>(std::llround(std::clamp(mhz * 1e6, 0.0, 4.29e9))));
    if (sdrBuffer) sdrBuffer->clear();
}

void SDRController::setDABGain() {
    if (!device) return;
    device->setGainMode(true);
    device->setManualGain(static_cast<int>(kDABGainTenthsDB));
}

void SDRController::muteOutput(bool muted) {
    if (audioOutput) audioOutput->setVolume(muted ? 0.0f : static_cast<float>(audioVolume()));
}

void SDRController::rememberFMReturnFrequency() {
    if (dabStreamRunning || adsbEnabled() || insideBandIII(frequencyMHz)) return;
    fmReturnFrequencyMHz = frequencyMHz.get();
    preDABRDSEnabled = rdsEnabled();
}

// ---- band scan ----

void SDRController::startDABScan(bool autoConnect) {
    if (!isRunning || dabScanning || dabProbeBusy) return;
    if (dabScanThread.joinable()) dabScanThread.join();
    dabProbeBusy = true;
    dabScanning = true;
    dabCancel = false;
    dabResults.clear();
    dabStatus = "Scanning Band III…";
    dabActive = true;
    muteOutput(true);
    const double returnMHz = frequencyMHz;
    rememberFMReturnFrequency();
    dabScanThread = std::thread([this, autoConnect, returnMHz] {
        configureCurrentThread("DABScan", ThreadPriority::userInitiated);
        runDABScan(autoConnect, returnMHz);
    });
}

void SDRController::cancelDABScan() { dabCancel = true; }

void SDRController::runDABScan(bool autoConnect, double returnMHz) {
    setDABGain();
    const std::vector<DABChannel>& channels = DABChannel::bandIII();
    DABBandScanner scanner(
        {.readDevice = [this](std::span<IQSample> out) { return sdrBuffer ? sdrBuffer->read(out) : 0; },
         .tuneDevice = [this](double mhz) { tuneDeviceForDAB(mhz); },
         .onChannel =
             [this, count = channels.size()](int index, const std::string& label) {
                 postToMain([index, label, count](SDRController& c) {
                     c.dabStatus = "Scan " + label + "…";
                     c.dabScanProgress = static_cast<double>(index) / static_cast<double>(count);
                 });
             },
         .onResults =
             [this](const std::vector<DABScanResult>& results) {
                 postToMain([results](SDRController& c) { c.dabResults = results; });
             }},
        dabCancel);
    std::vector<DABScanResult> results = scanner.run(channels);
    const bool cancelled = dabCancel || shouldStop;
    postToMain([results = std::move(results), cancelled, autoConnect, returnMHz](SDRController& c) {
        c.dabResults = results;
        c.dabScanning = false;
        c.dabScanProgress = 1.0;
        c.dabProbeBusy = false;
        c.restoreGainAfterScan();
        // Channels with signal are those auto-connect would take: a null symbol clearly
        // below the signal, not merely a strong level.
        const auto found = std::count_if(results.begin(), results.end(),
                                         [](const DABScanResult& r) { return r.hasSignal(); });
        c.dabStatus = found > 0 ? "Found " + std::to_string(found) + " channels with signal"
                                : "No strong DAB signal";
        const DABScanResult* best = DABBandScanner::bestForAutoConnect(c.dabResults);
        if (!autoConnect || cancelled || !best || !c.isRunning) {
            c.resumeFMAfterDAB(returnMHz);
            return;
        }
        c.selectDABChannel(*best);
    });
}

void SDRController::selectDABChannel(const DABScanResult& result) {
    rememberFMReturnFrequency();
    setRdsEnabled(false);
    dabSelectedServiceId.reset();
    tune(result.channel.frequencyMHz, false);
    statusText = "DAB " + result.channel.label + " " + formatString("%.3f", result.channel.frequencyMHz) + " MHz";
    dabStatus = formatString("%s  SNR ~%.0f dB", result.channel.label.c_str(), result.snrEstimate);
    dabFICStatus = "DAB streaming: acquiring…";
    startDABStreaming();
}

// ---- streaming ----

void SDRController::startDABStreaming() {
    if (!isRunning || !device || dabStreamRunning) return;
    // A stream that ended is joined before its replacement starts.
    dabSession.reset();
    preDABAgcEnabled = agcEnabled();
    preDABManualGainTenthsDB = manualGainTenthsDB();
    // DAB tunes to the channel centre: no listening offset.
    fmOffsetActive = false;
    tuneDeviceForDAB(frequencyMHz);
    setDABGain();
    muteOutput(true);
    dabStreamRunning = true;
    dabActive = true;
    dabCancel = false;
    dabFICStatus = "DAB streaming: acquiring…";
    dabLastEnsemble.reset();
    dabPumpBlocks = 0;

    DABStreamSession::Hooks hooks;
    hooks.readDevice = [this](std::span<IQSample> out) { return sdrBuffer ? sdrBuffer->read(out) : 0; };
    hooks.tuneDevice = [this](double mhz) { tuneDeviceForDAB(mhz); };
    hooks.receiverRunning = [this] { return !shouldStop && !dabCancel; };
    hooks.sourceWaitsForReader = streamOverflow == OverflowPolicy::waitForReader;
    hooks.onPumpBlock = [this](std::span<const IQSample> block) {
        std::shared_ptr<IQRecorder> recorder;
        {
            std::lock_guard lock(recorderLock);
            recorder = iqRecorder;
        }
        if (recorder) recorder->write(block);
        if (dabPumpBlocks++ % kSpectrumEvery == 0) postSpectrumWork(block, kDABHalfBandwidthHz);
    };
    hooks.onStatus = [this](const std::string& text) {
        postToMain([text](SDRController& c) { c.dabFICStatus = text; });
    };
    hooks.onAcquired = [this](const DABAcquisitionResult& r) {
        postToMain([ensemble = r.ensemble, offset = r.fineOffsetHz + 1000.0 * r.binShift, prs = r.prsScore,
                    crc = r.ficCRCCount, text = r.status, sub = r.subchannel.id](SDRController& c) {
            c.dabLastEnsemble = ensemble;
            c.publishDABEnsemble(ensemble);
            // The selection names the service playing: a stream that left an unplayable
            // service for another says which one it plays now.
            const auto selected = c.dabSelectedServiceId ? ensemble.serviceLinks.find(*c.dabSelectedServiceId)
                                                         : ensemble.serviceLinks.end();
            if (selected == ensemble.serviceLinks.end() || selected->second.primarySubchannelId != sub) {
                c.dabSelectedServiceId.reset();
                for (const DABService& s : ensemble.services) {
                    const auto link = ensemble.serviceLinks.find(s.id);
                    if (link != ensemble.serviceLinks.end() && link->second.primarySubchannelId == sub) {
                        c.dabSelectedServiceId = s.id;
                        break;
                    }
                }
            }
            c.dabFreqOffsetHz = offset;
            c.dabPRSCorrelation = prs;
            c.dabFICCRCCount = crc;
            c.dabFICStatus = text;
            c.muteOutput(false);
        });
    };
    hooks.onEnsemble = [this](const DABEnsembleInfo& ensemble) {
        postToMain([ensemble](SDRController& c) {
            c.dabLastEnsemble = ensemble;
            c.publishDABEnsemble(ensemble);
        });
    };
    hooks.onFrame = [this](const DABFrameReport& report) {
        postToMain([report](SDRController& c) {
            if (!report.constellation.empty()) c.dabConstellation = report.constellation;
            c.dabCifCounter = report.cifCounter;
            c.dabFICCRCCount = report.ficCRCCount;
        });
    };
    hooks.mscQueue = dabMscQueue.get();
    hooks.audio.onPCM = [this](std::span<const float> left, std::span<const float> right, double rate) {
        feedDABAudio(left, right, rate);
    };
    hooks.audio.onSuperframe = [this](int count, bool stereo) {
        postToMain([count, stereo](SDRController& c) {
            c.dabSuperframeCount = count;
            c.dabIsStereo = stereo;
        });
    };
    hooks.audio.onMissStreak = [this](int misses) {
        postToMain([misses](SDRController& c) { c.dabRSHuntMissStreak = misses; });
    };
    hooks.audio.onFormat = [this](DabAudioFormat format, int channels, double rate) {
        if (audioOutput) audioOutput->setSourceRate(rate);
        postToMain([format, channels, rate](SDRController& c) {
            c.dabCurrentFormat = format;
            c.dabOutputChannels = channels;
            c.dabIsStereo = !format.mono || format.ps;
            // A recording asked for before the format was known starts now, in its format.
            if (c.isRecording && c.recordingMode == "audio" && c.pendingDABAudioRecordingURL) {
                auto recorder = std::make_shared<AudioRecorder>(*c.pendingDABAudioRecordingURL, rate, channels);
                c.pendingDABAudioRecordingURL.reset();
                std::lock_guard lock(c.recorderLock);
                c.audioRecorder = recorder;
            }
        });
    };
    hooks.audio.onDynamicLabel = [this](const std::string& text, const std::optional<std::string>& artist,
                                        const std::optional<std::string>& title) {
        DebugLog::writef("📡 DAB label: %s", text.c_str());
        postToMain([text, artist, title](SDRController& c) {
            c.dabDynamicLabel = text;
            c.dabDLPlusArtist = artist;
            c.dabDLPlusTitle = title;
        });
    };
    hooks.audio.onSlide = [this](const std::vector<std::uint8_t>& bytes, const std::string& name, const std::string& mime) {
        postToMain([bytes, name, mime](SDRController& c) { c.storeDABSlide(bytes, mime); });
    };
    hooks.epgQueue = epgQueue.get();
    hooks.logoDirectory = dabLogoDirectory();
    hooks.onLogo = [this](std::uint32_t sid, const std::filesystem::path& path) {
        DebugLog::writef("📡 DAB logo %08X: %s", sid, path.c_str());
        postToMain([sid, path](SDRController& c) {
            c.dabLogoPaths[sid] = path;
            // The ensemble's logo also stands for its audio services that send none of their own.
            for (const DABServiceInfo& s : c.dabServices) c.dabLogoPaths.try_emplace(s.serviceID, path);
        });
    };
    hooks.onRetuned = [this](double mhz) { postToMain([mhz](SDRController& c) { c.frequencyMHz = mhz; }); };
    hooks.onFinished = [this](const std::string& text, bool gaveUp) {
        if (gaveUp) dabReturnToFMOnStop = true;
        postToMain([text](SDRController& c) { c.finishDABSession(text); });
    };
    dabSession = std::make_unique<DABStreamSession>(std::move(hooks));
    dabSession->start({.frequencyMHz = frequencyMHz,
                       .lastFreqOffsetHz = dabFreqOffsetHz,
                       .selectedServiceId = dabSelectedServiceId});
}

void SDRController::feedDABAudio(std::span<const float> left, std::span<const float> right, double rate) {
    if (deps.dabAudioTap) deps.dabAudioTap(left, right, rate);
    if (audioOutput) audioOutput->pushStereo(left, right);
    std::shared_ptr<AudioRecorder> recorder;
    {
        std::lock_guard lock(recorderLock);
        recorder = audioRecorder;
    }
    if (recorder && isRecording) {
        if (recorder->channels() == 1) recorder->write(left);
        else recorder->write(left, right);
    }
    // The audio spectrum and waveform as for analog audio: every fourth block, the newest.
    dabAudioAccum.insert(dabAudioAccum.end(), left.begin(), left.end());
    if (dabAudioAccum.size() > 2'048) dabAudioAccum.erase(dabAudioAccum.begin(), dabAudioAccum.end() - 2'048);
    if (++dabAudioBlockCount % 4 == 0) postAudioSpectrumWork(dabAudioAccum);
}

std::filesystem::path SDRController::dabLogoDirectory() const { return deps.documentsDir / "KestrovaMOT"; }

void SDRController::storeDABSlide(const std::vector<std::uint8_t>& bytes, const std::string& mimeType) {
    // The newest image of the playing service, beside the logos.
    const std::string extension = mimeType == "image/png" ? "png" : "jpg";
    const std::filesystem::path path =
        dabLogoDirectory() / formatString("slide-%04X.%s", dabSelectedServiceId.value_or(0), extension.c_str());
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    if (!writeFileAtomically(path, std::string(bytes.begin(), bytes.end()))) {
        DebugLog::writef("📡 DAB slide cannot be written: %s", path.c_str());
        return;
    }
    dabSlideshowPath = path;
    ++dabSlideshowCount;
}

void SDRController::clearDABProgrammeData() {
    dabDynamicLabel.reset();
    dabDLPlusArtist.reset();
    dabDLPlusTitle.reset();
    dabSlideshowPath.reset();
}

void SDRController::publishDABEnsemble(const DABEnsembleInfo& ensemble) {
    dabEnsembleLabel = ensemble.label;
    dabEnsembleId = ensemble.ensembleId;
    const std::vector<DABServiceInfo> rows = dabtables::serviceRows(ensemble);
    dabServices = dabtables::buildServiceInfos(ensemble, rows);
    dabSubchannelsInfo = dabtables::buildSubchannelInfos(ensemble, rows);
}

void SDRController::stopDABStreaming(bool returnToFM) {
    if (returnToFM) dabReturnToFMOnStop = true;
    dabCancel = true;
    if (dabSession) dabSession->requestStop();
}

void SDRController::selectDABService(std::uint32_t serviceId) {
    if (!dabStreamRunning || dabSelectedServiceId == serviceId) return;
    dabSelectedServiceId = serviceId;
    clearDABProgrammeData();
    if (dabSession) dabSession->selectService(serviceId);
}

void SDRController::finishDABSession(const std::string& lastStatus) {
    dabStreamRunning = false;
    dabSession.reset();
    if (audioOutput) audioOutput->setSourceRate(51'200.0);
    dabCurrentFormat.reset();
    clearDABProgrammeData();
    dabFICStatus = lastStatus.find("failed") != std::string::npos ? lastStatus : "DAB streaming stopped";
    if (device) {
        device->setGainMode(!preDABAgcEnabled);
        if (!preDABAgcEnabled) device->setManualGain(static_cast<int>(preDABManualGainTenthsDB));
    }
    setRdsEnabled(preDABRDSEnabled);
    const bool returnToFM = dabReturnToFMOnStop.exchange(false);
    if (returnToFM && !adsbEnabled()) {
        resumeFMAfterDAB(fmReturnFrequencyMHz.value_or(kDefaultFMReturnMHz));
    } else {
        dabActive = false;
        muteOutput(false);
    }
}

void SDRController::resumeFMAfterDAB(double atMHz) {
    muteOutput(true);
    tune(atMHz, true);
    dabActive = false;
    deps.mainQueue->postAfter(0.25, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (self && !self->dabActive && !self->dabStreamRunning) self->muteOutput(false);
    });
}
