#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/CPUMonitor.h"
#include "control/DemodMode.h"
#include "dab/DABTypes.h"
#include "platform/MainQueue.h"
#include "platform/Published.h"
#include "platform/SerialQueue.h"
#include "platform/UUID.h"
#include "stations/StationRecords.h"

class AudioSink;
class IQBuffer;
class RTLSDRDevice;
class RtlSdrApi;

// Collaborators chosen by the front end: which dongle, which sound device, where files go,
// and the main thread's queue.
struct ControllerDeps {
    std::function<std::shared_ptr<RtlSdrApi>()> dongle;
    std::function<std::unique_ptr<AudioSink>(double rate)> audio;
    std::shared_ptr<MainQueue> mainQueue;
    std::filesystem::path documentsDir;
};

// The one object through which a front end drives the receiver. It owns the dongle, the IQ
// ring, the processing chain and the worker threads.
//
// Threading: every public operation and every published-property assignment happens on the
// main thread (the thread that pumps `mainQueue`). Workers read the Published<> scalars once
// per block and hand results back through MainQueue::post, holding the controller weakly.
// Texts, lists and optionals are main-thread-only plain members.
class SDRController : public std::enable_shared_from_this<SDRController> {
public:
    static constexpr std::uint32_t sampleRate = 2'048'000;
    static constexpr int decimationFactor = 40;
    static constexpr int stereoPreDecimationFactor = 8;
    static constexpr double fmOffsetHz = 40'000.0;
    static constexpr float emaAlpha = 0.08f;
    static constexpr std::size_t maxWaterfallRows = 100;
    static constexpr std::size_t iqBufferCapacity = 262'144;

    static std::shared_ptr<SDRController> create(ControllerDeps deps);
    ~SDRController();
    SDRController(const SDRController&) = delete;
    SDRController& operator=(const SDRController&) = delete;

    // ---- Published state, in the design's declaration order ----
    Published<bool> isRunning{false};
    Published<double> frequencyMHz{92.1};
    std::string statusText = "Zaustavljeno";
    bool rdsEnabled() const { return rdsEnabledValue.get(); }
    std::optional<std::string> rdsStationName;
    std::optional<std::string> rdsRadioText;
    std::optional<std::string> rdsProgramType;
    std::optional<std::string> rdsPICode;
    bool rdsTP = false;
    bool rdsTA = false;
    std::vector<float> spectrum;
    std::vector<std::vector<float>> waterfallHistory;
    double vfoMarkerFraction = 0.5;
    Published<float> signalLevelDB{-100.0f};
    float signalStrengthNormalized = 0.0f;
    float snrDB = 0.0f;
    float noiseFloorDB = -100.0f;
    std::vector<float> audioSpectrum;
    std::vector<float> audioWaveform;
    bool agcEnabled() const { return agcEnabledValue.get(); }
    double manualGainTenthsDB() const { return manualGainTenthsDBValue.get(); }
    Published<bool> squelchEnabled{false};
    Published<double> squelchThresholdDB{-60.0};
    Published<bool> nbEnabled{false};
    Published<double> nbThreshold{4.0};
    Published<bool> nrEnabled{false};
    Published<double> nrAmount{0.5};
    Published<bool> notchEnabled{false};
    Published<double> notchFrequencyHz{1000.0};
    Published<bool> isScanning{false};
    double scanProgress = 0.0;
    std::optional<std::string> scanBandName;
    std::vector<FoundStation> foundStations;
    Published<bool> isRecording{false};
    std::string recordingMode = "audio";
    std::optional<std::filesystem::path> lastRecordingURL;
    bool isAdvancedMode = false;
    Published<DemodMode> mode{DemodMode::fm};
    Published<bool> stereoEnabled{false};
    Published<bool> stereoDetected{false};
    double cpuUsagePercent = 0.0;
    float audioLevelL = 0.0f;
    float audioLevelR = 0.0f;
    double audioVolume() const { return audioVolumeValue.get(); }
    Published<double> audioBalance{0.0};
    bool isNarrowbandFM() const { return isNarrowbandFMValue.get(); }
    Published<bool> adsbEnabled{false};
    std::string adsbDebugInfo;
    Published<bool> aprsEnabled{false};
    std::vector<RadioStation> stations;
    std::optional<UUID> selectedStationID;
    Published<bool> dabScanning{false};
    double dabScanProgress = 0.0;
    std::vector<DABScanResult> dabResults;
    std::string dabStatus;
    std::optional<DABLockInfo> dabLock;
    double dabFreqOffsetHz = 0.0;
    std::string dabFICStatus;
    Published<bool> dabActive{false};
    std::string dabEnsembleLabel;
    std::uint16_t dabEnsembleId = 0;
    std::vector<DABServiceInfo> dabServices;
    std::optional<std::uint32_t> dabSelectedServiceId;
    float dabPRSCorrelation = 0.0f;
    int dabFICCRCCount = 0;
    bool dabIsStereo = false;
    std::vector<DABConstellationPoint> dabConstellation;
    std::vector<DABSubchannelInfo> dabSubchannelsInfo;
    int dabRSHuntMissStreak = 0;
    int dabCifCounter = 0;
    int dabSuperframeCount = 0;
    Published<bool> dabStreamRunning{false};
    // Dongle calibration in ppm, programmed by start (0 for an uncalibrated dongle).
    Published<int> frequencyCorrectionPPM{0};

    // ---- Setters with side effects ----
    void setRdsEnabled(bool enabled);
    void setAgcEnabled(bool enabled);
    void setManualGainTenthsDB(double tenthsDB);
    void setAudioVolume(double volume);
    void setIsNarrowbandFM(bool narrow);
    void setFrequencyCorrectionPPM(int ppm);

    // ---- Operations (main thread) ----
    void start();
    void stop();
    void tune(double toMHz, bool applyOffsetCorrection);
    void adjustFrequencyContinuous(double byHz);
    void selectStation(const RadioStation& station);
    void stopDABStreaming(bool returnToFM);

    // IQ samples that reached the ring since start (for rate displays).
    std::uint64_t samplesReceived() const;
    const ControllerDeps& dependencies() const { return deps; }
    MainQueue& mainQueue() { return *deps.mainQueue; }

private:
    explicit SDRController(ControllerDeps deps);
    void initialise();
    void joinWorkers();
    // Runs `fn(controller)` on the main thread if the controller still exists then.
    void postToMain(std::function<void(SDRController&)> fn);

    void processingLoop();
    void rdsLoop();
    void aprsLoop();
    bool streamClaimed() const {
        return isScanning.get() || dabActive.get() || dabStreamRunning.get() || dabScanning.get();
    }
    void clearRDSProperties();

    ControllerDeps deps;

    Published<bool> rdsEnabledValue{true};
    Published<bool> agcEnabledValue{true};
    Published<double> manualGainTenthsDBValue{300.0};
    Published<double> audioVolumeValue{0.5};
    Published<bool> isNarrowbandFMValue{false};

    // Device and IQ.
    std::shared_ptr<RTLSDRDevice> device;
    std::shared_ptr<IQBuffer> sdrBuffer;

    // Loop control. tune() asks the processing thread to restart its rotator rather than
    // writing the loop's phase itself.
    std::atomic<bool> shouldStop{false};
    std::atomic<bool> shouldStopScan{false};
    std::atomic<bool> fmOffsetActive{true};
    std::atomic<bool> ncoResetRequested{false};
    double fmNCOPhase = 0.0;  // processing thread only
    std::uint64_t blockCount = 0;

    // DAB session flags polled by the DAB workers.
    std::atomic<bool> dabCancel{false};
    std::atomic<bool> dabReturnToFMOnStop{false};

    std::unique_ptr<CPUMonitor> cpuMonitor;
    MainQueue::TimerId cpuTimer = 0;
    std::unique_ptr<SerialQueue> analysisQueue;
    std::unique_ptr<SerialQueue> dabMscQueue;
    std::unique_ptr<SerialQueue> epgQueue;

    std::thread readerThread;
    std::thread processingThread;
    std::thread rdsThread;
    std::thread aprsThread;
};
