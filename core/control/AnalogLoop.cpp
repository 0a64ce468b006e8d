// The processing thread: IQ blocks to audio, decoder feeds and display work.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "adsb/ADSBDecoder.h"
#include "adsb/ADSBTracker.h"
#include "aprs/APRSDecoder.h"
#include "audio/AudioOutput.h"
#include "audio/AudioRecorder.h"
#include "audio/IQRecorder.h"
#include "control/SDRController.h"
#include "control/OffsetShift.h"
#include "control/SpectrumMath.h"
#include "device/IQBuffer.h"
#include "platform/DebugLog.h"
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
#include "rds/RDSDemodulator.h"
#include "rds/RDSSampleQueue.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kAnalogBlock = 8'192;
constexpr std::size_t kAudioAccumLength = 2'048;
constexpr std::size_t kAudioFFTLength = 256;
constexpr std::size_t kSpectrumBins = 96;
constexpr std::size_t kAudioSpectrumBins = 48;
constexpr double kAudioRateHz = 51'200.0;
}  // namespace

void SDRController::processingLoop() {
    bool lastStereoPublished = stereoDetected;
    while (!shouldStop) {
        if (streamClaimed()) {
            std::this_thread::sleep_for(50ms);
            continue;
        }
        if (adsbEnabled()) {
            adsbPass();
            continue;
        }
        if (!sdrBuffer || !channelFilter || !fmDemodulator || !decimator || !deEmphasis ||
            !dcBlock || !audioOutput) {
            std::this_thread::sleep_for(50ms);
            continue;
        }
        analogPass(lastStereoPublished);
    }
}

// The wanted station sits 40 kHz below the tuner's centre; turning the rotator forward by
// 40 kHz per second brings it to 0 Hz, where the spectrum marker and tap-to-tune expect it.
void SDRController::applyOffsetShift(std::span<IQSample> block) {
    if (ncoResetRequested.exchange(false)) fmNCOPhase = 0.0;
    if (!fmOffsetActive) return;
    fmNCOPhase = shiftBy40kHz(block, fmNCOPhase);
}

// The window's sliders move these while the receiver runs; the objects belong to this thread.
void SDRController::applyLiveSettings() {
    if (nbThreshold.get() != appliedNBThreshold && noiseBlanker) {
        appliedNBThreshold = nbThreshold;
        noiseBlanker->setThresholdMultiplier(static_cast<float>(appliedNBThreshold));
    }
    if (nrAmount.get() != appliedNRAmount && audioTools) {
        appliedNRAmount = nrAmount;
        audioTools->setNoiseReductionAmount(static_cast<float>(appliedNRAmount));
    }
    if (notchFrequencyHz.get() != appliedNotchHz && audioTools) {
        appliedNotchHz = notchFrequencyHz;
        audioTools->configureNotch(
            {.sampleRate = kAudioRateHz, .frequencyHz = appliedNotchHz, .q = 10.0});
    }
}

void SDRController::analogPass(bool& lastStereoPublished) {
    const bool stereoWanted = mode.get() == DemodMode::fm && stereoEnabled;

    iqBlock.resize(kAnalogBlock);
    const std::size_t n = sdrBuffer->read(std::span<IQSample>(iqBlock));
    iqBlock.resize(n);

    std::shared_ptr<AudioRecorder> audioRec;
    std::shared_ptr<IQRecorder> iqRec;
    if (isRecording) {
        std::lock_guard lock(recorderLock);
        audioRec = audioRecorder;
        iqRec = iqRecorder;
    }
    // The kind of recording is fixed when it starts: whichever recorder exists is fed.
    if (iqRec && n > 0) iqRec->write(iqBlock);
    if (n == 0) {
        std::this_thread::sleep_for(10ms);
        return;
    }
    applyLiveSettings();

    shiftedBlock.resize(n);
    iqDCBlocker.process(iqBlock, shiftedBlock);
    applyOffsetShift(shiftedBlock);

    std::span<const IQSample> detectorInput = shiftedBlock;
    if (nbEnabled && noiseBlanker) {
        blankedBlock.resize(n);
        noiseBlanker->process(shiftedBlock, blankedBlock);
        detectorInput = blankedBlock;
    }
    // Only the tuned channel reaches the detectors; the spectrum keeps the whole band.
    const bool am = mode.get() == DemodMode::am;
    channelFilter->setMode(am                 ? ChannelFilterMode::am
                           : isNarrowbandFM() ? ChannelFilterMode::narrowFM
                                              : ChannelFilterMode::wideFM);
    channelBlock.resize(channelFilter->outputCount(n));
    channelFilter->process(detectorInput, channelBlock);
    // from here on: 256 kHz

    const std::size_t m = channelBlock.size();
    mpxBlock.resize(m);
    if (am) {
        if (amDemodulator)
            amDemodulator->demodulate(channelBlock, mpxBlock);
        else
            std::fill(mpxBlock.begin(), mpxBlock.end(), 0.0f);
    } else {
        fmDemodulator->demodulate(channelBlock, mpxBlock);
        multiplexEqualizer.process(mpxBlock, mpxBlock);
    }

    ++blockCount;
    if (blockCount % 4 == 0 && fftAnalyzer)
        postSpectrumWork(shiftedBlock, channelFilter->passbandHz());
    if (rdsEnabled() && rdsQueue) rdsQueue->push(mpxBlock);

    // The loop restarts for each station and whenever the stereo path resumes: its phase
    // and what it knew of the pilot belong to the signal it last saw.
    const bool retuned = stereoResetRequested.exchange(false);
    bool hasRight = false;
    bool pilotPresent = false;
    if (stereoWanted && stereoDecoder && leftDecimator && rightDecimator && leftDeEmphasis &&
        rightDeEmphasis && leftDCBlock && rightDCBlock) {
        if (retuned || !stereoPathActive) stereoDecoder->reset();
        stereoPathActive = true;
        stereoLeft.resize(m);
        stereoRight.resize(m);
        stereoDecoder->process(mpxBlock, stereoLeft, stereoRight);
        pilotPresent = stereoDecoder->isPilotPresent();
        leftBlock.resize(leftDecimator->outputCount(m));
        rightBlock.resize(rightDecimator->outputCount(m));
        leftDecimator->process(stereoLeft, leftBlock);  // from here on: 51.2 kHz
        rightDecimator->process(stereoRight, rightBlock);
        leftDeEmphasis->process(leftBlock, leftBlock);
        rightDeEmphasis->process(rightBlock, rightBlock);
        leftDCBlock->process(leftBlock, leftBlock);
        rightDCBlock->process(rightBlock, rightBlock);
        hasRight = true;
    } else {
        stereoPathActive = false;
        leftBlock.resize(decimator->outputCount(m));
        decimator->process(mpxBlock, leftBlock);  // from here on: 51.2 kHz
        if (mode.get() == DemodMode::fm) deEmphasis->process(leftBlock, leftBlock);
        dcBlock->process(leftBlock, leftBlock);
        rightBlock.clear();
    }
    // Stereo is reported while the pilot is there (the detector's hysteresis keeps it steady);
    // published on change: the value seen is the same.
    if (pilotPresent != lastStereoPublished) {
        lastStereoPublished = pilotPresent;
        postToMain([pilotPresent](SDRController& c) { c.stereoDetected = pilotPresent; });
    }

    if (audioTools)
        audioTools->process(leftBlock, rightBlock,
                            {.noiseReduction = nrEnabled, .notch = notchEnabled});
    if (squelchEnabled && channelLevelDB.get() < static_cast<float>(squelchThresholdDB.get())) {
        std::fill(leftBlock.begin(), leftBlock.end(), 0.0f);
        std::fill(rightBlock.begin(), rightBlock.end(), 0.0f);
    }

    if (audioRec) {
        if (hasRight)
            audioRec->write(leftBlock, std::span<const float>(rightBlock));
        else
            audioRec->write(leftBlock);
        if (audioRec->hasFailed() || audioRec->isFull()) {
            postToMain([audioRec](SDRController& c) { c.handleRecorderLimit(audioRec); });
        }
    }
    if (aprsEnabled && aprsQueue) aprsQueue->push(leftBlock);

    audioAccum.insert(audioAccum.end(), leftBlock.begin(), leftBlock.end());
    if (audioAccum.size() > kAudioAccumLength)
        audioAccum.erase(audioAccum.begin(),
                         audioAccum.end() - static_cast<std::ptrdiff_t>(kAudioAccumLength));
    if (blockCount % 4 == 0 && audioAccum.size() >= kAudioFFTLength && audioFFTAnalyzer)
        postAudioSpectrumWork(audioAccum);

    // Balance: b > 0 turns the left channel down, b < 0 the right one.
    const double b = audioBalance;
    const float leftGain = b >= 0 ? static_cast<float>(std::max(1.0 - b, 0.0)) : 1.0f;
    const float rightGain = b < 0 ? static_cast<float>(std::max(1.0 + b, 0.0)) : 1.0f;
    const std::vector<float>& rightSource = hasRight ? rightBlock : leftBlock;
    audioScratch.resize(rightSource.size());
    for (std::size_t k = 0; k < rightSource.size(); ++k) audioScratch[k] = rightSource[k] * rightGain;
    for (float& v : leftBlock) v *= leftGain;

    if (blockCount % 4 == 0) {
        const float levelL = rms(leftBlock), levelR = rms(audioScratch);
        postToMain([levelL, levelR](SDRController& c) {
            c.audioLevelL = levelL;
            c.audioLevelR = levelR;
        });
    }
    if (deps.audioTap) deps.audioTap(leftBlock, audioScratch);
    if (streamClaimed()) return;  // a scan or DAB took the stream during this block
    audioOutput->setSourceRate(kAudioRateHz);
    audioOutput->pushStereo(leftBlock, std::span<const float>(audioScratch));
}

void SDRController::postSpectrumWork(std::span<const IQSample> shifted, double channelHalfWidthHz) {
    std::vector<IQSample> block(shifted.begin(), shifted.end());
    std::weak_ptr<SDRController> weak = weak_from_this();
    analysisQueue->async([weak, analyzer = fftAnalyzer, state = analysisState, channelHalfWidthHz,
                          queue = deps.mainQueue, block = std::move(block)] {
        const std::optional<std::vector<float>> power = analyzer->averagedSpectrum(block);
        if (!power) return;
        const SpectrumLevels levels =
            spectrumLevels(*power, {.fullScaleBinPower = analyzer->fullScaleBinPower(),
                                    .averagedSegments = block.size() / analyzer->size(),
                                    .normRange = DBRange{}});
        const float channelDB = strongestInChannelDB(levels.dB, channelHalfWidthHz, 2'048'000.0);
        std::vector<float> row = downsample(levels.norm, kSpectrumBins);
        if (!state->smoothedSpectrum) state->smoothedSpectrum.emplace();
        smoothTowards(*state->smoothedSpectrum, row, emaAlpha);
        state->smoothedFloorDB = state->smoothedFloorDB
                                     ? *state->smoothedFloorDB +
                                           (levels.floorDB - *state->smoothedFloorDB) * emaAlpha
                                     : levels.floorDB;
        const std::uint64_t w = state->waterfallInsertCounter++;
        // The meter and SNR describe the tuned channel, as the squelch does.
        const float strength = levelScaleFraction(channelDB);
        const float floorDB = *state->smoothedFloorDB;
        const float snr = std::max(channelDB - floorDB, 0.0f);
        queue->post([weak, smoothed = *state->smoothedSpectrum, row = std::move(row),
                     peak = levels.peakDB, channelDB, strength, snr, floorDB, w]() mutable {
            auto self = weak.lock();
            if (!self) return;
            self->spectrum = std::move(smoothed);
            self->signalLevelDB = peak;
            self->channelLevelDB = channelDB;
            self->signalStrengthNormalized = strength;
            self->snrDB = snr;
            self->noiseFloorDB = floorDB;
            if (w % 2 == 1) {
                auto& history = self->waterfallHistory;
                history.insert(history.begin(), std::move(row));
                if (history.size() > maxWaterfallRows) history.pop_back();
            }
        });
    });
}

void SDRController::postAudioSpectrumWork(std::span<const float> accum) {
    if (accum.size() < kAudioFFTLength || !audioFFTAnalyzer) return;
    std::vector<float> samples(accum.end() - static_cast<std::ptrdiff_t>(kAudioFFTLength), accum.end());
    std::weak_ptr<SDRController> weak = weak_from_this();
    analysisQueue->async([weak, analyzer = audioFFTAnalyzer, queue = deps.mainQueue,
                          samples = std::move(samples)]() mutable {
        std::vector<IQSample> packed(samples.size());
        for (std::size_t k = 0; k < samples.size(); ++k) packed[k] = {samples[k], 0.0f};
        const std::optional<std::vector<float>> power = analyzer->magnitudeSpectrum(packed);
        if (!power) return;
        const SpectrumLevels levels =
            spectrumLevels(*power, {.fullScaleBinPower = analyzer->fullScaleBinPower()});
        std::vector<float> bins = downsample(levels.norm, kAudioSpectrumBins);
        queue->post([weak, bins = std::move(bins), samples = std::move(samples)]() mutable {
            if (auto self = weak.lock()) {
                self->audioSpectrum = std::move(bins);
                self->audioWaveform = std::move(samples);
            }
        });
    });
}

void SDRController::adsbPass() {
    if (!sdrBuffer || !adsbDecoder || !adsbTracker) {
        std::this_thread::sleep_for(50ms);
        return;
    }
    iqBlock.resize(4'096);
    iqBlock.resize(sdrBuffer->read(std::span<IQSample>(iqBlock)));
    if (iqBlock.empty()) {
        std::this_thread::sleep_for(5ms);
        return;
    }
    adsbDecoder->process(iqBlock);
    // The list and the diagnostic line go to the window at most five times a second of signal.
    adsbSamplesSincePublish += iqBlock.size();
    if (adsbSamplesSincePublish < kADSBPublishSamples) return;
    adsbSamplesSincePublish = 0;
    adsbTracker->expire(adsbDecoder->streamSamples());
    std::vector<ADSBAircraft> aircraft = adsbTracker->snapshot();
    std::string info = formatString("Kand: %d | Validni: %d | MaxAmp: %.3f", adsbDecoder->candidateCount(),
                                    adsbDecoder->validCount(), adsbDecoder->maxObservedMagnitude());
    postToMain([aircraft = std::move(aircraft), info = std::move(info)](SDRController& c) mutable {
        if (!c.adsbEnabled()) return;  // switched off meanwhile
        c.adsbAircraft = std::move(aircraft);
        c.adsbDebugInfo = std::move(info);
    });
}

void SDRController::rdsLoop() {
    std::vector<float> chunk;
    while (!shouldStop) {
        if (rdsQueue && rdsDemodulator && rdsQueue->pop(chunk)) {
            // During a scan the scan thread drives the demodulator with its own samples.
            if (!isScanning) rdsDemodulator->process(chunk);
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
}

void SDRController::aprsLoop() {
    std::vector<float> chunk;
    while (!shouldStop) {
        if (aprsQueue && aprsDecoder && aprsQueue->pop(chunk))
            aprsDecoder->process(chunk);
        else
            std::this_thread::sleep_for(10ms);
    }
}
