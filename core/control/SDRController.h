#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/CPUMonitor.h"
#include "control/DemodMode.h"
#include "control/LevelScale.h"
#include "dab/DABTypes.h"
#include "dsp/IQDCBlocker.h"
#include "dsp/MultiplexEqualizer.h"
#include "platform/LatestValue.h"
#include "platform/MainQueue.h"
#include "platform/OverflowPolicy.h"
#include "platform/Published.h"
#include "platform/SerialQueue.h"
#include "adsb/ADSBAircraft.h"
#include "adsb/ADSBListenerSet.h"
#include "platform/ListenerSet.h"
#include "rds/RDSProgramme.h"
#include "aprs/APRSListenerSet.h"
#include "aprs/APRSPacket.h"
#include "platform/UUID.h"
#include "stations/BandDefinition.h"
#include "stations/BookmarkExchange.h"
#include "stations/BookmarkStore.h"
#include "stations/StationRecords.h"

using RDSGroupListenerSet = ListenerSet<RDSGroupReport, RDSProgrammeInfo>;
using APRSListenerSet = ListenerSet<APRSPacket>;

class ADSBDecoder;
class DABStreamSession;
class ADSBTracker;
class AMDemodulator;
class APRSDecoder;
class AudioOutput;
class AudioRecorder;
class AudioSink;
class ChannelFilter;
class DCBlockFilter;
class DeEmphasisFilter;
class Decimator;
class FFTAnalyzer;
class FMDemodulator;
class IQBuffer;
class IQRecorder;
class NoiseBlanker;
class RDSDemodulator;
class RDSGroupDecoder;
class RDSSampleQueue;
class RTLSDRDevice;
class RtlSdrApi;
class StereoAudioTools;
class StereoDecoder;
struct IQSample;

// Every block of final analog audio at 51,200 frames/s (after squelch and balance, before the
// output volume): left, and right (the same length, equal to left for mono). Runs on the
// processing thread; must not block for long, since the receiver waits for it.
using AudioTap = std::function<void(std::span<const float> left, std::span<const float> right)>;

// Every block of DAB+ audio as decoded (48 or 32 kHz), before the output volume. Runs on the
// DAB audio queue.
using DABAudioTap = std::function<void(std::span<const float> left, std::span<const float> right, double rateHz)>;

// Collaborators chosen by the front end: which dongle, which sound device, where files go,
// and the main thread's queue.
struct ControllerDeps {
    std::function<std::shared_ptr<RtlSdrApi>()> dongle;
    // The sound device. Absent: the receiver plays on the silent sink, by choice, not as a fault.
    std::function<std::unique_ptr<AudioSink>(double rate)> audio;
    // The silent sink used when `audio` is absent or cannot start, consuming as fast as the
    // source produces. Absent: a NullAudioSink at real time.
    std::function<std::unique_ptr<AudioSink>(double rate)> silentAudio;
    std::shared_ptr<MainQueue> mainQueue;
    std::filesystem::path documentsDir;
    // Optional: sees every sample the loop produces, unlike a sound device, whose pacing drops
    // or stretches audio when the source runs faster than real time.
    AudioTap audioTap;
    DABAudioTap dabAudioTap;
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
    // The channel filter takes the IQ stream to this rate; the detectors, the stereo decoder
    // and RDS run at it, and the audio decimators take it to 51,200 samples/s.
    static constexpr double channelRateHz = 256'000.0;
    static constexpr int channelDecimationFactor = 8;
    static constexpr int audioDecimationFactor = 5;
    // Discriminator gains at channelRateHz: 75 kHz deviation gives a multiplex level of 0.0805
    // (0.35 times the phase step at 2,048,000 samples/s, whose step is eight times smaller).
    static constexpr float wideFMGain = 0.35f / channelDecimationFactor;
    static constexpr float narrowFMGain = 15.0f * wideFMGain;
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
    // Everything the station's RDS has sent (texts with their diacritics, clock, AF list,
    // PTYN, ECC and language, RadioText+), and how well groups are coming in.
    RDSProgrammeInfo rdsDetails;
    RDSGroupStatistics rdsStatistics;
    bool rdsPilotLocked = false;  // RDS carrier phase taken from the stereo pilot
    std::vector<float> spectrum;
    std::vector<std::vector<float>> waterfallHistory;
    double vfoMarkerFraction = 0.5;
    // Levels in dBFS per 2 kHz bin (control/LevelScale.h). signalLevelDB is the strongest bin
    // in view.
    Published<float> signalLevelDB{-100.0f};
    // Level of the tuned channel alone (strongest bin inside the channel filter), which the
    // squelch compares and the meter shows: a neighbour elsewhere in the band must not hold it.
    Published<float> channelLevelDB{-100.0f};
    float signalStrengthNormalized = 0.0f;  // channelLevelDB on the meter's scale, 0..1
    float snrDB = 0.0f;                     // channelLevelDB above noiseFloorDB
    float noiseFloorDB = -100.0f;           // mean noise per bin
    std::vector<float> audioSpectrum;
    std::vector<float> audioWaveform;
    bool agcEnabled() const { return agcEnabledValue.get(); }
    double manualGainTenthsDB() const { return manualGainTenthsDBValue.get(); }
    Published<bool> squelchEnabled{false};
    Published<double> squelchThresholdDB{kDefaultSquelchThresholdDBFS};
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
    bool adsbEnabled() const { return adsbEnabledValue.get(); }
    std::vector<ADSBAircraft> adsbAircraft;
    std::string adsbDebugInfo;
    Published<bool> aprsEnabled{false};
    std::vector<APRSPacket> aprsPackets;
    std::vector<RadioStation> stations;
    std::optional<UUID> selectedStationID;
    std::string stationsTransferReport;  // the last import's or export's report line
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
    // What the playing DAB+ service sends beside its audio: the dynamic label (with the DL Plus
    // artist and title when tagged) and the newest slideshow image, kept on disk.
    std::optional<std::string> dabDynamicLabel;
    std::optional<std::string> dabDLPlusArtist;
    std::optional<std::string> dabDLPlusTitle;
    std::optional<std::filesystem::path> dabSlideshowPath;
    int dabSlideshowCount = 0;  // images received this stream; a new one changes it
    // Station logos stored from the ensembles' MOT carousels, by the SId they belong to.
    std::map<std::uint32_t, std::filesystem::path> dabLogoPaths;
    // Dongle calibration in ppm, programmed by start (0 for an uncalibrated dongle).
    Published<int> frequencyCorrectionPPM{0};
    // False while the sound device could not start and the receiver runs on the silent sink;
    // the reason as the audio error describes itself, e.g. noOutputDevice("PortAudio: ...").
    bool audioOutputAvailable = true;
    std::optional<std::string> audioOutputProblem;

    // ---- Setters with side effects ----
    void setRdsEnabled(bool enabled);
    void setAgcEnabled(bool enabled);
    void setManualGainTenthsDB(double tenthsDB);
    void setAudioVolume(double volume);
    void setIsNarrowbandFM(bool narrow);
    void setFrequencyCorrectionPPM(int ppm);
    void setADSBEnabled(bool enabled);
    // Feeds subscribe here: the listener runs on the processing thread for every delivered
    // message, after the tracker has taken it. Subscriptions outlive start and stop.
    int addADSBListener(ADSBListenerSet::Listener listener) { return adsbListeners->add(std::move(listener)); }
    void removeADSBListener(int id) { adsbListeners->remove(id); }
    // Every RDS group decoded, with the station state after it; runs on the RDS thread.
    int addRDSGroupListener(RDSGroupListenerSet::Listener listener) { return rdsGroupListeners->add(std::move(listener)); }
    void removeRDSGroupListener(int id) { rdsGroupListeners->remove(id); }
    // Every APRS packet decoded, on the APRS thread, before the window's list has it.
    int addAPRSListener(APRSListenerSet::Listener listener) { return aprsListeners->add(std::move(listener)); }
    void removeAPRSListener(int id) { aprsListeners->remove(id); }

    // ---- Operations (main thread) ----
    void start();
    void stop();
    void tune(double toMHz, bool applyOffsetCorrection);
    void adjustFrequencyContinuous(double byHz);
    void selectStation(const RadioStation& station);
    // DAB: the Band III scan, a stream on the tuned channel and its service choice.
    void startDABScan(bool autoConnect);
    void cancelDABScan();
    void selectDABChannel(const DABScanResult& result);
    void startDABStreaming();
    void stopDABStreaming(bool returnToFM);
    void selectDABService(std::uint32_t serviceId);
    static float estimateDABSNR(std::span<const IQSample> samples);
    static float estimatePowerDB(std::span<const IQSample> samples);
    static int parseFICCRCCount(const std::string& status);
    static DABEnsembleInfo mergeServiceLabels(const std::optional<DABEnsembleInfo>& original,
                                              const DABEnsembleInfo& update);
    static std::vector<DABServiceInfo> buildServiceInfos(const DABEnsembleInfo& ensemble,
                                                         const std::vector<DABServiceInfo>& rows);
    static std::vector<DABSubchannelInfo> buildSubchannelInfos(const DABEnsembleInfo& ensemble,
                                                               const std::vector<DABServiceInfo>& rows);
    // Tries the sound device again while the receiver plays on the silent sink; what is
    // queued carries over. Updates audioOutputAvailable, audioOutputProblem and the status.
    void retryAudioOutput();
    void startRecording();
    void stopRecording();
    // A full WAV continues in a new file; a failing one stops the recording with its reason.
    void handleRecorderLimit(const std::shared_ptr<AudioRecorder>& recorder);
    // Band scan.
    void startScan(const BandDefinition& band);
    void stopScan();
    void restoreGainAfterScan();

    // Saved stations and favourites; every change is written to the bookmark file.
    void addCustomBookmark(const std::string& name);
    void removeCustomBookmark(const RadioStation& station);
    void toggleFavorite(const RadioStation& station);
    void toggleFavoriteCurrent();
    bool isCurrentFrequencyFavorite() const;
    bool isFoundStationFavorite(const FoundStation& found) const;
    void toggleFavorite(const FoundStation& forFound);
    void saveAllFoundStations(const std::vector<FoundStation>& found);
    // Bookmark files of other programs (stations/BookmarkExchange.h). Import adds to the list,
    // skipping rows that repeat a saved station (same name, within 1 kHz), and saves; export
    // replaces the file atomically. The report is also kept in stationsTransferReport.
    BookmarkTransferReport importStations(const std::filesystem::path& path);
    BookmarkTransferReport exportStations(const std::filesystem::path& path, BookmarkFormat format);

    // Renames the scan result on the listened frequency when RDS names the station.
    void updateFoundStationLabelIfMatching(const std::string& name);

    // IQ samples that reached the ring since start (for rate displays).
    std::uint64_t samplesReceived() const;
    // IQ samples that the receiver's loops took from the ring since start: the signal time
    // processed, at sampleRate.
    std::uint64_t samplesProcessed() const;
    // IQ samples the live dongle delivered faster than the receiver took them, lost since
    // start. Always 0 for a recording, which waits for the receiver instead.
    std::uint64_t droppedSamples() const;
    // RDS groups received whole by this run's decoder (a measure of reception).
    std::uint64_t rdsGroupCount() const;
    const ControllerDeps& dependencies() const { return deps; }
    MainQueue& mainQueue() { return *deps.mainQueue; }

private:
    explicit SDRController(ControllerDeps deps);
    void initialise();
    void joinWorkers();
    // Releases a reader or processing thread waiting for room in the ring or a decoder queue.
    void closeStreams();
    // Runs `fn(controller)` on the main thread if the controller still exists then.
    void postToMain(std::function<void(SDRController&)> fn);

    // The audio output on the sound device, else on the silent sink (publishing why); null
    // with the error in statusText only when even the silent sink fails.
    std::shared_ptr<AudioOutput> openAudioOutput();
    // "Sluša 92.1000 MHz", marked " · bez zvuka" while there is no sound device.
    std::string listeningText(double mhz) const;
    void createAnalogChain();
    void wireRDSCallbacks();
    void processingLoop();
    void analogPass(bool& lastStereoPublished);
    void adsbPass();
    void applyOffsetShift(std::span<IQSample> block);
    void applyLiveSettings();
    void postSpectrumWork(std::span<const IQSample> shifted, double channelHalfWidthHz);
    // The newest 256 samples of `accum` to the audio spectrum and waveform.
    void postAudioSpectrumWork(std::span<const float> accum);
    void rdsLoop();
    void aprsLoop();
    void runScan(BandDefinition band, double returnMHz, bool fmNaming);
    // Retunes for a scan step and drops what the ring may still hold from before.
    void tuneScanStep(double frequencyMHz, std::vector<IQSample>& scratch);
    // The step's level in dBFS, or nothing when the stream gives no samples.
    std::optional<float> measureScanStep(const BandDefinition& band, std::vector<IQSample>& block);
    // Fills `out` from the ring, waiting for the stream; short only when stopped or stalled.
    std::size_t readScanSamples(std::span<IQSample> out);
    std::optional<std::string> waitForScanPS();
    bool streamClaimed() const {
        return isScanning.get() || dabActive.get() || dabStreamRunning.get() || dabScanning.get();
    }
    void runDABScan(bool autoConnect, double returnMHz);
    void rememberFMReturnFrequency();
    void finishDABSession(const std::string& lastStatus);
    void resumeFMAfterDAB(double atMHz);
    void publishDABEnsemble(const DABEnsembleInfo& ensemble);
    // Tunes the dongle for DAB (no FM offset) from a DAB worker and empties the ring.
    void tuneDeviceForDAB(double mhz);
    void setDABGain();
    void muteOutput(bool muted);
    void clearRDSProperties();
    // Empties the RDS feed, resets both RDS objects and clears what they published.
    void resetRDS();
    // The reason when the bookmark file could not be written (also shown in statusText).
    std::optional<std::string> saveStations();
    std::vector<RadioStation>::iterator stationMatching(double frequencyMHz);

    ControllerDeps deps;
    BookmarkStore bookmarkStore;

    Published<bool> rdsEnabledValue{true};
    Published<bool> agcEnabledValue{true};
    Published<double> manualGainTenthsDBValue{300.0};
    Published<double> audioVolumeValue{0.5};
    Published<bool> isNarrowbandFMValue{false};
    Published<bool> adsbEnabledValue{false};

    // Device and IQ. The policy of the current run's ring and decoder queues: a recording
    // waits for the receiver, a live dongle does not.
    std::shared_ptr<RTLSDRDevice> device;
    std::shared_ptr<IQBuffer> sdrBuffer;
    OverflowPolicy streamOverflow = OverflowPolicy::dropOldest;

    // Analog chain, created by start and kept until the next start replaces it. Only the
    // processing thread runs these objects while a run is live.
    std::unique_ptr<FMDemodulator> fmDemodulator;
    std::unique_ptr<AMDemodulator> amDemodulator;
    std::unique_ptr<Decimator> decimator;
    std::unique_ptr<StereoDecoder> stereoDecoder;
    std::unique_ptr<Decimator> leftDecimator;
    std::unique_ptr<Decimator> rightDecimator;
    std::unique_ptr<DeEmphasisFilter> leftDeEmphasis;
    std::unique_ptr<DeEmphasisFilter> rightDeEmphasis;
    std::unique_ptr<DCBlockFilter> leftDCBlock;
    std::unique_ptr<DCBlockFilter> rightDCBlock;
    std::unique_ptr<DeEmphasisFilter> deEmphasis;
    std::unique_ptr<DCBlockFilter> dcBlock;
    std::shared_ptr<AudioOutput> audioOutput;
    std::unique_ptr<NoiseBlanker> noiseBlanker;
    std::unique_ptr<StereoAudioTools> audioTools;
    std::shared_ptr<FFTAnalyzer> fftAnalyzer;
    std::shared_ptr<FFTAnalyzer> audioFFTAnalyzer;
    std::unique_ptr<ChannelFilter> channelFilter;
    IQDCBlocker iqDCBlocker;                // processing thread only
    MultiplexEqualizer multiplexEqualizer;  // processing thread only
    // Settings the loop last applied to the noise tools, so slider moves take effect.
    double appliedNBThreshold = 0.0, appliedNRAmount = 0.0, appliedNotchHz = 0.0;

    // RDS chain and the decoder feeds.
    std::unique_ptr<RDSDemodulator> rdsDemodulator;
    std::unique_ptr<RDSGroupDecoder> rdsGroupDecoder;
    std::unique_ptr<RDSSampleQueue> rdsQueue;
    std::unique_ptr<RDSSampleQueue> aprsQueue;
    std::unique_ptr<APRSDecoder> aprsDecoder;
    std::unique_ptr<ADSBDecoder> adsbDecoder;
    std::unique_ptr<ADSBTracker> adsbTracker;
    std::shared_ptr<ADSBListenerSet> adsbListeners = std::make_shared<ADSBListenerSet>();
    std::shared_ptr<RDSGroupListenerSet> rdsGroupListeners = std::make_shared<RDSGroupListenerSet>();
    std::shared_ptr<APRSListenerSet> aprsListeners = std::make_shared<APRSListenerSet>();
    static constexpr std::size_t kADSBPublishSamples = sampleRate / 5;
    std::size_t adsbSamplesSincePublish = 0;  // processing thread
    std::optional<double> preADSBFrequencyMHz;
    std::optional<DemodMode> preADSBMode;
    bool wasDABStreamingBeforeADSB = false;
    std::optional<double> preADSBDABFrequencyMHz;
    // Bumped after every RDS reset; results decoded before it are dropped on arrival.
    std::shared_ptr<std::atomic<std::uint64_t>> rdsGeneration =
        std::make_shared<std::atomic<std::uint64_t>>(0);

    // Recording. The loop copies the pointers once per block under the lock; stopRecording
    // swaps them out and closes outside it.
    std::mutex recorderLock;
    std::shared_ptr<AudioRecorder> audioRecorder;
    std::shared_ptr<IQRecorder> iqRecorder;
    std::optional<std::filesystem::path> pendingDABAudioRecordingURL;
    std::optional<DabAudioFormat> dabCurrentFormat;

    // Processing-thread scratch, sized for the largest block.
    std::vector<IQSample> iqBlock, shiftedBlock, blankedBlock, channelBlock;
    std::vector<float> mpxBlock, stereoLeft, stereoRight, leftBlock, rightBlock, audioScratch,
        audioAccum;

    // Analysis-queue state (only tasks on analysisQueue touch it).
    struct AnalysisState {
        std::optional<std::vector<float>> smoothedSpectrum;
        std::optional<float> smoothedFloorDB;
        std::uint64_t waterfallInsertCounter = 0;
    };
    std::shared_ptr<AnalysisState> analysisState = std::make_shared<AnalysisState>();

    // Loop control. tune() asks the processing thread to restart its rotator rather than
    // writing the loop's phase itself.
    std::atomic<bool> shouldStop{false};
    std::atomic<bool> shouldStopScan{false};
    std::atomic<bool> fmOffsetActive{true};
    std::atomic<bool> ncoResetRequested{false};
    // tune() asks for a fresh pilot loop: the new station's pilot has another phase, or none.
    std::atomic<bool> stereoResetRequested{false};
    bool stereoPathActive = false;  // processing thread only: the last block went through it
    double fmNCOPhase = 0.0;  // processing thread only
    std::uint64_t blockCount = 0;

    // DAB session flags polled by the DAB workers.
    std::atomic<bool> dabCancel{false};
    std::atomic<bool> dabReturnToFMOnStop{false};
    bool dabProbeBusy = false;
    std::optional<double> fmReturnFrequencyMHz;
    bool preDABRDSEnabled = true;
    bool preDABAgcEnabled = true;
    double preDABManualGainTenthsDB = 300.0;
    std::optional<DABEnsembleInfo> dabLastEnsemble;
    std::unique_ptr<DABStreamSession> dabSession;
    std::thread dabScanThread;
    std::uint64_t dabPumpBlocks = 0;  // pump thread only
    int dabOutputChannels = 2;        // of the decoded DAB+ audio, main thread
    // DAB+ audio display feed, touched on the DAB audio queue only.
    std::vector<float> dabAudioAccum;
    std::uint64_t dabAudioBlockCount = 0;
    void feedDABAudio(std::span<const float> left, std::span<const float> right, double rateHz);
    std::filesystem::path dabLogoDirectory() const;
    void storeDABSlide(const std::vector<std::uint8_t>& bytes, const std::string& mimeType);
    void clearDABProgrammeData();

    std::unique_ptr<CPUMonitor> cpuMonitor;
    MainQueue::TimerId cpuTimer = 0;
    std::unique_ptr<SerialQueue> analysisQueue;
    std::unique_ptr<SerialQueue> dabMscQueue;
    std::unique_ptr<SerialQueue> epgQueue;

    std::thread readerThread;
    std::thread processingThread;
    std::thread rdsThread;
    std::thread aprsThread;
    std::thread scanThread;
    // The newest PS name, handed from whichever thread decodes RDS to the scan thread.
    std::shared_ptr<LatestValue<std::string>> scanPS = std::make_shared<LatestValue<std::string>>();
    std::unique_ptr<ChannelFilter> scanFilter;  // scan thread only
};
