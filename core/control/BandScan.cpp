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
#include "control/SpectrumMath.h"
#include "dsp/ChannelFilter.h"
#include "dsp/FFTAnalyzer.h"
#include "dsp/FMDemodulator.h"
#include "rds/RDSDemodulator.h"
#include "rds/RDSGroupDecoder.h"
#include "rds/RDSSampleQueue.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kScanFFTLength = 1'024;
constexpr double kDetectionJumpDB = 12.0;
constexpr std::size_t kHistoryLength = 20;
constexpr auto kRDSWait = 3s;

std::string labelPrefix(const std::string& bandName) {
    std::string prefix;
    for (char c : bandName)
        if (c != ' ' && c != '/') prefix.push_back(c);
    return prefix.substr(0, 4);
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
    const auto deadline = std::chrono::steady_clock::now() + kRDSWait;
    std::size_t samplesSeen = 0;
    while (!shouldStopScan && !shouldStop && std::chrono::steady_clock::now() < deadline) {
        if (const std::optional<std::string> name = scanPS->take()) {
            const std::string label = trimmedText(*name);
            if (!label.empty()) return label;
        }
        block.resize(8'192);
        block.resize(sdrBuffer->read(std::span<IQSample>(block)));
        if (block.empty()) {
            std::this_thread::sleep_for(5ms);
            continue;
        }
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

void SDRController::runScan(BandDefinition band, double returnMHz, bool fmNaming) {
    const int totalSteps = scanStepCount(band);
    const std::string prefix = labelPrefix(band.name);
    std::vector<FoundStation> found;
    std::vector<float> history;
    std::vector<IQSample> block(2'048);
    block.reserve(2'048);
    bool first = true;
    double lastStationMHz = 0.0;
    int stationNumber = 1;
    int k = 0;
    double f = band.startMHz;
    while (!shouldStopScan && !shouldStop) {
        // Each step from the band edge, to the hertz, so no rounding creeps into the list.
        f = std::round((band.startMHz + k * band.stepHz / 1e6) * 1e6) / 1e6;
        if (f > band.endMHz + 1e-9) break;
        // The tuner sits 40 kHz above f as when listening, so the DC spike is off the channel.
        const double tunerHz = std::max(0.0, (f + fmOffsetHz / 1e6) * 1e6);
        device->setCenterFrequency(static_cast<std::uint32_t>(std::min(tunerHz, 4.29e9)));
        std::this_thread::sleep_for(30ms);
        sdrBuffer->clear();
        std::this_thread::sleep_for(30ms);
        // Buffers arrive every 32 ms, so the settle alone may leave the ring empty: wait a
        // little longer for one rather than record a false -120 dB.
        block.resize(sdrBuffer->read(std::span<IQSample>(block.data(), 2'048)));
        for (int tries = 0; block.size() < kScanFFTLength && tries < 30 && !shouldStopScan; ++tries) {
            std::this_thread::sleep_for(5ms);
            const std::size_t have = block.size();
            block.resize(2'048);
            block.resize(have + sdrBuffer->read(std::span<IQSample>(block.data() + have, 2'048 - have)));
        }
        float g = -120.0f;
        if (block.size() >= kScanFFTLength) {
            shiftBy40kHz(block, 0.0);  // each step stands alone
            if (const auto power = fftAnalyzer->magnitudeSpectrum(block))
                g = strongestInChannelDB(spectrumLevels(*power).dB, band.stepHz / 2.0, 2'048'000.0);
        }
        history.push_back(g);
        if (history.size() > kHistoryLength) history.erase(history.begin());
        const float noise = scanNoiseEstimate(history);
        DebugLog::writef("🔎 scan %.4f MHz level %.1f dB noise %.1f dB", f, g, noise);
        if (g - noise > kDetectionJumpDB) {
            if (first || std::abs(f - lastStationMHz) >= 3.0 * band.stepHz / 1e6) {
                std::string label = prefix + std::to_string(stationNumber);
                if (fmNaming) {
                    if (std::optional<std::string> ps = waitForScanPS()) label = *ps;
                }
                found.push_back({.id = UUID::random(), .frequencyMHz = f, .label = label, .peakDB = g});
                ++stationNumber;
                postToMain([list = found](SDRController& c) { c.foundStations = list; });
                lastStationMHz = f;
            }
            first = false;
        }
        ++k;
        postToMain([progress = static_cast<double>(k) / totalSteps](SDRController& c) {
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
