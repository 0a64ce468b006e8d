// The band scanner: steps the tuner through a band on its own thread, finds stations as jumps
// above a running noise estimate and names them by RDS where it can.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "audio/AudioOutput.h"
#include "control/SDRController.h"
#include "platform/TextUtils.h"
#include "device/IQBuffer.h"
#include "device/RTLSDRDevice.h"
#include "platform/DebugLog.h"
#include "control/BandScanMath.h"
#include "control/OffsetShift.h"
#include "control/ScanPeakFinder.h"
#include "control/SpectrumMath.h"
#include "dsp/ChannelFilter.h"
#include "dsp/FFTAnalyzer.h"
#include "dsp/FMDemodulator.h"
#include "rds/RDSDemodulator.h"
#include "rds/RDSGroupDecoder.h"
#include "rds/RDSSampleQueue.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kScanReadLength = 2'048;  // two spectra averaged per step
constexpr double kDetectionJumpDB = 12.0;
constexpr std::size_t kHistoryLength = 20;
constexpr double kRDSWaitSeconds = 3.0;
// After a retune the ring can still receive a transfer that completed before it, and the
// transfer in flight during it holds both frequencies: two whole USB transfers are dropped,
// counted in samples so a late or slow stream cannot shorten the wait.
constexpr std::size_t kSettleSamples = 2 * RTLSDRDevice::kReadBufferBytes / 2;
// A stream that delivers nothing for this long has stopped; the scan does not wait on it.
constexpr auto kStreamStall = 1s;

std::string labelPrefix(const std::string& bandName) {
    std::string prefix;
    for (char c : bandName)
        if (c != ' ' && c != '/') prefix.push_back(c);
    return prefix.substr(0, 4);
}

// The dongle's DC spike sits 40 kHz from the step's frequency, inside the half-step window the
// level is read from; the block's mean is that spike (a station 40 kHz off makes whole turns
// over the block and averages out).
void removeMean(std::span<IQSample> block) {
    if (block.empty()) return;
    double i = 0.0, q = 0.0;
    for (const IQSample& s : block) {
        i += s.i;
        q += s.q;
    }
    const auto n = static_cast<double>(block.size());
    const IQSample mean{static_cast<float>(i / n), static_cast<float>(q / n)};
    for (IQSample& s : block) {
        s.i -= mean.i;
        s.q -= mean.q;
    }
}

}  // namespace

int scanStepCount(const BandDefinition& band) {
    // A hair of tolerance: 2.6 MHz / 100 kHz must count 26 spans, not 25.9999.
    const double steps = std::floor((band.endMHz - band.startMHz) * 1e6 / band.stepHz + 1e-6) + 1.0;
    return std::max(static_cast<int>(steps), 1);
}

float scanNoiseEstimate(std::vector<float> history) {
    if (history.empty()) return -120.0f;
    std::sort(history.begin(), history.end());
    return history[history.size() / 5];
}

void SDRController::startScan(const BandDefinition& band) {
    if (!isRunning || isScanning) return;
    if (scanThread.joinable()) scanThread.join();  // the previous scan has finished its loop
    isScanning = true;
    scanBandName = band.name;
    scanProgress = 0.0;
    shouldStopScan = false;
    foundStations.clear();
    if (device) {
        device->setGainMode(true);
        device->setManualGain(static_cast<int>(manualGainTenthsDB()));
    }
    if (audioOutput) audioOutput->setVolume(0.0f);
    const double returnMHz = frequencyMHz;
    const bool fmNaming = mode.get() == DemodMode::fm;
    scanThread = std::thread([this, band, returnMHz, fmNaming] {
        configureCurrentThread("BandScan", ThreadPriority::defaultPriority);
        runScan(band, returnMHz, fmNaming);
    });
}

void SDRController::stopScan() {
    shouldStopScan = true;
}

void SDRController::restoreGainAfterScan() {
    if (!device) return;
    device->setGainMode(!agcEnabled());
    if (!agcEnabled()) device->setManualGain(static_cast<int>(manualGainTenthsDB()));
}

std::optional<std::string> SDRController::waitForScanPS() {
    // Reset here rather than on the main thread: the scan never waits for the window.
    rdsQueue->clear();
    rdsDemodulator->reset();
    rdsGroupDecoder->reset();
    scanPS->clear();
    rdsGeneration->fetch_add(1);
    postToMain([](SDRController& c) { c.rdsStationName.reset(); });

    // Its own detector chain: the processing thread may still be finishing a block with its own.
    FMDemodulator demodulator(wideFMGain);
    if (!scanFilter)
        scanFilter = std::make_unique<ChannelFilter>(
            ChannelFilterMode::wideFM,
            ChannelFilterConfig{.inputRateHz = sampleRate, .decimation = channelDecimationFactor});
    scanFilter->reset();
    std::vector<IQSample> block(8'192), filtered;
    double rotatorPhase = 0.0;  // carried: a jump at a block edge would click in the discriminator
    IQDCBlocker dcBlocker;
    std::vector<float> mpx;
    // Three seconds of signal, counted in samples: a busy machine or a fast replay changes the
    // wall time it takes, not how much of the station the decoder hears.
    const auto waitSamples = static_cast<std::size_t>(kRDSWaitSeconds * sampleRate);
    std::size_t samplesSeen = 0;
    auto lastArrival = std::chrono::steady_clock::now();
    while (!shouldStopScan && !shouldStop && samplesSeen < waitSamples) {
        if (const std::optional<std::string> name = scanPS->take()) {
            const std::string label = trimmedText(*name);
            if (!label.empty()) return label;
        }
        block.resize(8'192);
        block.resize(sdrBuffer->read(std::span<IQSample>(block)));
        if (block.empty()) {
            if (std::chrono::steady_clock::now() - lastArrival > kStreamStall) break;
            std::this_thread::sleep_for(5ms);
            continue;
        }
        lastArrival = std::chrono::steady_clock::now();
        samplesSeen += block.size();
        dcBlocker.process(block, block);
        rotatorPhase = shiftBy40kHz(block, rotatorPhase);
        filtered.resize(scanFilter->outputCount(block.size()));
        scanFilter->process(block, filtered);  // from here on: 256 kHz, the rate RDS runs at
        mpx.resize(filtered.size());
        demodulator.demodulate(filtered, mpx);
        rdsDemodulator->process(mpx);
    }
    DebugLog::writef("🔎 no RDS name after %zu samples", samplesSeen);
    return std::nullopt;
}

std::size_t SDRController::readScanSamples(std::span<IQSample> out) {
    std::size_t have = 0;
    auto lastArrival = std::chrono::steady_clock::now();
    while (have < out.size() && !shouldStopScan && !shouldStop) {
        const std::size_t n = sdrBuffer->read(out.subspan(have));
        if (n > 0) {
            have += n;
            lastArrival = std::chrono::steady_clock::now();
            continue;
        }
        if (std::chrono::steady_clock::now() - lastArrival > kStreamStall) break;
        std::this_thread::sleep_for(2ms);
    }
    return have;
}

void SDRController::tuneScanStep(double frequencyMHz, std::vector<IQSample>& scratch) {
    // The tuner sits 40 kHz above f as when listening, so the DC spike is off the channel.
    const double tunerHz = std::max(0.0, (frequencyMHz + fmOffsetHz / 1e6) * 1e6);
    device->setCenterFrequency(static_cast<std::uint32_t>(std::min(tunerHz, 4.29e9)));
    sdrBuffer->clear();
    for (std::size_t dropped = 0; dropped < kSettleSamples;) {
        const std::size_t want = std::min(scratch.size(), kSettleSamples - dropped);
        const std::size_t n = readScanSamples(std::span<IQSample>(scratch.data(), want));
        if (n < want) return;  // stopped, or the stream stalled
        dropped += n;
    }
}

std::optional<float> SDRController::measureScanStep(const BandDefinition& band,
                                                    std::vector<IQSample>& block) {
    block.resize(kScanReadLength);
    if (readScanSamples(block) < kScanReadLength) return std::nullopt;
    removeMean(block);
    shiftBy40kHz(block, 0.0);  // each step stands alone
    const std::optional<std::vector<float>> power = fftAnalyzer->averagedSpectrum(block);
    if (!power) return std::nullopt;
    const SpectrumLevels levels =
        spectrumLevels(*power, {.fullScaleBinPower = fftAnalyzer->fullScaleBinPower(),
                                .averagedSegments = block.size() / fftAnalyzer->size()});
    return strongestInChannelDB(levels.dB, band.stepHz / 2.0, sampleRate);
}

void SDRController::runScan(BandDefinition band, double returnMHz, bool fmNaming) {
    const int totalSteps = scanStepCount(band);
    const std::string prefix = labelPrefix(band.name);
    std::vector<FoundStation> found;
    std::vector<float> history;
    std::vector<IQSample> block(8'192);
    ScanPeakFinder peaks(3.0 * band.stepHz / 1e6);  // closer than three steps: the same station
    int stationNumber = 1;
    const auto addStation = [&](const ScanReading& station) {
        std::string label = prefix + std::to_string(stationNumber);
        if (fmNaming) {
            // The run has moved past the peak; the name is heard at the peak itself.
            tuneScanStep(station.frequencyMHz, block);
            if (std::optional<std::string> ps = waitForScanPS()) label = *ps;
        }
        found.push_back({.id = UUID::random(),
                         .frequencyMHz = station.frequencyMHz,
                         .label = label,
                         .peakDB = station.levelDB});
        ++stationNumber;
        postToMain([list = found](SDRController& c) { c.foundStations = list; });
    };
    for (int k = 0; !shouldStopScan && !shouldStop; ++k) {
        // Each step from the band edge, to the hertz, so no rounding creeps into the list.
        const double f = std::round((band.startMHz + k * band.stepHz / 1e6) * 1e6) / 1e6;
        if (f > band.endMHz + 1e-9) {
            if (const std::optional<ScanReading> station = peaks.finish()) addStation(*station);
            break;
        }
        tuneScanStep(f, block);
        const std::optional<float> level = measureScanStep(band, block);
        bool above = false;
        // A step without samples has no level; it must not drag the noise estimate down.
        if (level) {
            history.push_back(*level);
            if (history.size() > kHistoryLength) history.erase(history.begin());
            const float noise = scanNoiseEstimate(history);
            above = *level - noise > kDetectionJumpDB;
            DebugLog::writef("🔎 scan %.4f MHz level %.1f dBFS noise %.1f dBFS", f, *level, noise);
        }
        const ScanReading reading{.frequencyMHz = f, .levelDB = level.value_or(kMinLevelDBFS)};
        if (const std::optional<ScanReading> station = peaks.step(reading, above))
            addStation(*station);
        postToMain([progress = static_cast<double>(k + 1) / totalSteps](SDRController& c) {
            c.scanProgress = progress;
        });
    }
    postToMain([returnMHz](SDRController& c) {
        c.isScanning = false;
        c.scanBandName.reset();
        c.restoreGainAfterScan();
        if (c.audioOutput) c.audioOutput->setVolume(static_cast<float>(c.audioVolume()));
        c.tune(returnMHz, true);
    });
}
