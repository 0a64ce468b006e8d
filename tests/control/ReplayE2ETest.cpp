// Recordings replayed as fast as the receiver can process them: the file source waits for
// the receiver instead of overwriting the ring, so every sample of the file reaches the audio
// and the decoders. The recordings are the simulated demo world rendered to .cu8 files.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>

#include "adsb/ADSBDecoder.h"
#include "device/RTLSDRDevice.h"
#include "sim/DemoScene.h"
#include "sim/SignalSource.h"
#include "support/SimulatedReceiver.h"
#include "support/SimulatedRecording.h"

namespace {

constexpr double kIQRateHz = SDRController::sampleRate;
constexpr double kAudioRateHz = 51'200.0;
// IEC 62106: 1187.5 bit/s, 104 bits per group.
constexpr double kRDSGroupsPerSecond = 1'187.5 / 104.0;
// Generous: the replay's wall time depends only on the machine; nothing here measures it.
constexpr std::chrono::minutes kPatience{5};

using RawBits = std::array<std::uint8_t, 112>;

class ReplayE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir = std::filesystem::temp_directory_path() / ("vantirel-replay-" + std::to_string(rd()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        controller.reset();
        std::filesystem::remove_all(dir);
    }

    // The receiver on `recording`, replayed unpaced, with no sound device.
    SDRController& receiver(const std::filesystem::path& recording, AudioTap tap = {}) {
        const SignalSource source =
            makeSignalSource({.choice = recording.string(), .speed = 0.0, .audio = false});
        controller = SDRController::create({.dongle = source.dongle,
                                            .audio = source.audio,
                                            .mainQueue = queue,
                                            .documentsDir = dir,
                                            .audioTap = std::move(tap)});
        return *controller;
    }

    bool processUntil(double signalSeconds) {
        const auto target = static_cast<std::uint64_t>(signalSeconds * kIQRateHz);
        return queue->runUntil([&] { return controller->samplesProcessed() >= target; }, kPatience);
    }

    std::filesystem::path dir;
    std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
    std::shared_ptr<SDRController> controller;
};

struct TappedAudio {
    std::mutex lock;
    std::vector<float> left, right;
};

std::multiset<RawBits> decodeFileTwice(const std::filesystem::path& path,
                                       std::uint64_t fileSamples) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    std::vector<IQSample> samples(bytes.size() / 2);
    convertRTLBytes(bytes, samples);
    ADSBDecoder decoder;
    std::multiset<RawBits> secondPass;
    decoder.onMessage = [&](const DecodedADSBMessage& m) {
        if (m.sampleIndex >= fileSamples) secondPass.insert(m.rawBits);
    };
    // As the looping replay delivers it: the second pass is decoded with the first behind it.
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t at = 0; at < samples.size(); at += 4'096)
            decoder.process(
                std::span(samples).subspan(at, std::min<std::size_t>(4'096, samples.size() - at)));
    return secondPass;
}

}  // namespace

TEST_F(ReplayE2ETest, UnpacedStereoReplayLosesNoSampleOfAudioOrRDS) {
    const auto recording = dir / "fm.cu8";
    writeSimulatedRecording(recording, makeDemoScene(), kDemoStartFrequencyHz + 40'000.0, 8.0);
    TappedAudio audio;
    SDRController& c = receiver(recording, [&](std::span<const float> l, std::span<const float> r) {
        std::lock_guard guard(audio.lock);
        audio.left.insert(audio.left.end(), l.begin(), l.end());
        audio.right.insert(audio.right.end(), r.begin(), r.end());
    });
    c.stereoEnabled = true;
    c.start();
    ASSERT_TRUE(c.isRunning) << c.statusText;
    // RDS is counted from after its lock-in to before the end of the file (no loop join).
    ASSERT_TRUE(processUntil(1.5));
    const std::uint64_t groupsFrom = c.rdsGroupCount(), processedFrom = c.samplesProcessed();
    ASSERT_TRUE(processUntil(7.5));
    const std::uint64_t groupsTo = c.rdsGroupCount(), processedTo = c.samplesProcessed();
    c.stop();

    EXPECT_EQ(c.droppedSamples(), 0u);
    EXPECT_LE(c.samplesReceived() - c.samplesProcessed(), SDRController::iqBufferCapacity)
        << "only what was still in the ring at the stop went unprocessed";
    // At each reading up to 20 queued blocks (80 ms, about one group) await the RDS thread.
    const double expectedGroups =
        static_cast<double>(processedTo - processedFrom) / kIQRateHz * kRDSGroupsPerSecond;
    EXPECT_NEAR(static_cast<double>(groupsTo - groupsFrom), expectedGroups, 2.5);

    // Every block read was processed to the end, so the audio is the signal's full length.
    std::lock_guard guard(audio.lock);
    ASSERT_EQ(audio.left.size(), audio.right.size());
    EXPECT_NEAR(static_cast<double>(audio.left.size()),
                static_cast<double>(c.samplesProcessed()) /
                    (SDRController::channelDecimationFactor * SDRController::audioDecimationFactor),
                2.0);
    // Past the pilot lock-in, each 50 ms of the demo programme carries both tones at their level.
    const std::size_t block = static_cast<std::size_t>(0.05 * kAudioRateHz);
    const double toneDB =
        10.0 * std::log10(tonePower(std::span(audio.left).subspan(block * 20, block * 20),
                                    kDemoLeftToneHz, kAudioRateHz));
    for (std::size_t at = block * 20; at + block <= audio.left.size(); at += block) {
        SCOPED_TRACE(static_cast<double>(at) / kAudioRateHz);
        const auto left = std::span(audio.left).subspan(at, block);
        const auto right = std::span(audio.right).subspan(at, block);
        ASSERT_NEAR(10.0 * std::log10(tonePower(left, kDemoLeftToneHz, kAudioRateHz)), toneDB, 1.0);
        ASSERT_NEAR(10.0 * std::log10(tonePower(right, kDemoRightToneHz, kAudioRateHz)), toneDB,
                    1.0);
    }
}

TEST_F(ReplayE2ETest, UnpacedReplayDeliversEveryADSBFrameOfTheFileInEachPass) {
    constexpr double kFileSeconds = 2.0;
    const auto fileSamples = static_cast<std::uint64_t>(kFileSeconds * kIQRateHz);
    const auto recording = dir / "adsb.cu8";
    writeSimulatedRecording(recording, makeDemoScene(), kDemoADSBFrequencyHz, kFileSeconds);
    const std::multiset<RawBits> inFile = decodeFileTwice(recording, fileSamples);
    ASSERT_GE(inFile.size(), 20u) << "the demo sky sends frames every few milliseconds";

    SDRController& c = receiver(recording);
    std::mutex lock;
    std::map<std::uint64_t, RawBits> heard;  // by stream time
    c.addADSBListener([&](const ADSBTrackUpdate& u) {
        std::lock_guard guard(lock);
        heard[u.message.sampleIndex] = u.message.rawBits;
    });
    c.frequencyMHz = kDemoADSBFrequencyHz / 1e6;
    c.start();
    ASSERT_TRUE(c.isRunning) << c.statusText;
    c.setADSBEnabled(true);
    // One pass of the loop, from the first frame after a pass of warm-up to just before it
    // comes round again, whatever point of the file the decoder started at.
    std::optional<std::uint64_t> passStart;
    ASSERT_TRUE(queue->runUntil(
        [&] {
            std::lock_guard guard(lock);
            const auto first = heard.lower_bound(fileSamples);
            if (first == heard.end()) return false;
            passStart = first->first;
            return heard.rbegin()->first >= *passStart + fileSamples;
        },
        kPatience));
    c.stop();
    EXPECT_EQ(c.droppedSamples(), 0u);

    std::lock_guard guard(lock);
    std::multiset<RawBits> inPass;
    for (auto it = heard.lower_bound(*passStart); it != heard.lower_bound(*passStart + fileSamples);
         ++it)
        inPass.insert(it->second);
    EXPECT_EQ(inPass.size(), inFile.size());
    EXPECT_TRUE(inPass == inFile) << "the same frames as a direct decode of the file";
}
