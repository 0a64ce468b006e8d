#include "control/SDRController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "audio/AudioError.h"
#include "audio/AudioTee.h"
#include "audio/NullAudioSink.h"
#include "support/FakeRtlSdrApi.h"

using namespace std::chrono_literals;

namespace {

// A controller over the scripted dongle, pumped on this thread as the main thread.
struct ControllerFixture : ::testing::Test {
    std::shared_ptr<FakeRtlSdrApi> fake = std::make_shared<FakeRtlSdrApi>();
    std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
    std::shared_ptr<SDRController> controller;
    std::filesystem::path docs = std::filesystem::temp_directory_path() / "vantirel-ctl-test";

    void SetUp() override {
        std::filesystem::remove_all(docs);
        controller = SDRController::create(
            {.dongle = [this] { return fake; }, .audio = nullptr, .mainQueue = queue, .documentsDir = docs});
    }
    void TearDown() override {
        controller.reset();
        std::filesystem::remove_all(docs);
    }

    bool called(const std::string& call) const {
        const auto calls = fake->calls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    std::vector<std::string> callsAfter(const std::string& marker) const {
        const auto calls = fake->calls();
        auto it = std::find(calls.begin(), calls.end(), marker);
        return it == calls.end() ? std::vector<std::string>{}
                                 : std::vector<std::string>(it + 1, calls.end());
    }
};

}  // namespace

TEST_F(ControllerFixture, StartsWithThePublishedInitialState) {
    const SDRController& c = *controller;
    EXPECT_FALSE(c.isRunning);
    EXPECT_DOUBLE_EQ(c.frequencyMHz, 92.1);
    EXPECT_EQ(c.statusText, "Zaustavljeno");
    EXPECT_TRUE(c.rdsEnabled());
    EXPECT_TRUE(c.agcEnabled());
    EXPECT_DOUBLE_EQ(c.manualGainTenthsDB(), 300.0);
    EXPECT_DOUBLE_EQ(c.squelchThresholdDB, -40.0) << "dBFS, above an empty channel";
    EXPECT_DOUBLE_EQ(c.nbThreshold, 4.0);
    EXPECT_DOUBLE_EQ(c.notchFrequencyHz, 1000.0);
    EXPECT_EQ(c.recordingMode, "audio");
    EXPECT_EQ(c.mode.get(), DemodMode::fm);
    EXPECT_DOUBLE_EQ(c.audioVolume(), 0.5);
    EXPECT_FLOAT_EQ(c.signalLevelDB, -100.0f);
    EXPECT_FLOAT_EQ(c.noiseFloorDB, -100.0f);
    EXPECT_DOUBLE_EQ(c.vfoMarkerFraction, 0.5);
    EXPECT_FALSE(c.selectedStationID);
    EXPECT_TRUE(fake->calls().empty()) << "construction must not touch the radio";
}

TEST_F(ControllerFixture, StartProgramsTheDongleInOrder) {
    controller->start();
    ASSERT_TRUE(controller->isRunning);
    EXPECT_EQ(controller->statusText, "Sluša 92.1000 MHz");
    fake->waitUntilDrained();
    const std::vector<std::string> expected = {
        "get_device_count()",         "open(0)",
        "set_sample_rate(2048000)",   "set_center_freq(92140000)",
        "set_tuner_gain_mode(0)",     "set_agc_mode(0)",
        "reset_buffer()",             "set_tuner_gain_mode(0)",  // AGC on, as the window shows
        "set_freq_correction(0)",     "read_async(0,131072)",
    };
    EXPECT_EQ(fake->calls(), expected);
}

TEST_F(ControllerFixture, ManualGainAndCalibrationAreAppliedAtStart) {
    controller->setAgcEnabled(false);
    controller->setManualGainTenthsDB(372.9);
    controller->setFrequencyCorrectionPPM(-45);
    EXPECT_TRUE(fake->calls().empty()) << "no device yet: settings are only recorded";
    controller->start();
    fake->waitUntilDrained();
    const auto after = callsAfter("reset_buffer()");
    const std::vector<std::string> expected = {"set_tuner_gain_mode(1)", "set_tuner_gain(372)",
                                               "set_freq_correction(-45)", "read_async(0,131072)"};
    EXPECT_EQ(after, expected);
}

TEST_F(ControllerFixture, FailuresLeaveTheReceiverStoppedWithTheErrorText) {
    struct Case {
        const char* call;
        int status;
        const char* expectedText;
    };
    const Case cases[] = {
        {"open", -3, "Greška: openFailed(-3)"},
        {"set_sample_rate", -1, "Greška: configFailed(\"set_sample_rate\")"},
        {"set_center_freq", -1, "Greška: configFailed(\"set_center_freq\")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        fake = std::make_shared<FakeRtlSdrApi>();
        fake->setResult(c.call, c.status);
        controller->start();
        EXPECT_FALSE(controller->isRunning);
        EXPECT_EQ(controller->statusText, c.expectedText);
        if (std::string(c.call) != "open") {
            EXPECT_TRUE(called("close()")) << "an opened dongle must be released";
        }
        if (std::string(c.call) == "set_sample_rate") {
            EXPECT_FALSE(called("set_center_freq(92140000)"));
        }
    }
}

TEST_F(ControllerFixture, NoDongleReportsAndASecondStartRetries) {
    fake->setDeviceCount(0);
    controller->start();
    EXPECT_FALSE(controller->isRunning);
    EXPECT_EQ(controller->statusText, "Greška: deviceNotFound");
    EXPECT_FALSE(called("open(0)"));

    fake->setDeviceCount(1);
    controller->start();
    EXPECT_TRUE(controller->isRunning);
    EXPECT_TRUE(called("open(0)"));
}

TEST_F(ControllerFixture, StartAndStopAreIdempotent) {
    controller->stop();
    EXPECT_EQ(controller->statusText, "Zaustavljeno");
    EXPECT_TRUE(fake->calls().empty());

    controller->start();
    fake->waitUntilDrained();
    const auto callsWhileRunning = fake->calls().size();
    controller->start();
    EXPECT_EQ(fake->calls().size(), callsWhileRunning);

    controller->stop();
    EXPECT_FALSE(controller->isRunning);
    EXPECT_EQ(controller->statusText, "Zaustavljeno");
    EXPECT_TRUE(called("cancel_async()"));
    EXPECT_TRUE(called("close()"));
    const auto callsAfterStop = fake->calls().size();
    controller->stop();
    EXPECT_EQ(fake->calls().size(), callsAfterStop);
}

TEST_F(ControllerFixture, RestartAfterStopStreamsAgain) {
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        fake->clearCalls();
        fake->queueBuffer(std::vector<std::uint8_t>(131'072, 200));
        controller->start();
        ASSERT_TRUE(controller->isRunning);
        fake->waitUntilDrained();
        EXPECT_EQ(controller->samplesReceived(), 65'536u) << "a fresh ring per run";
        controller->stop();
        EXPECT_FALSE(controller->isRunning);
    }
}

TEST_F(ControllerFixture, TuneWithAndWithoutOffsetCorrection) {
    controller->start();
    fake->waitUntilDrained();
    controller->tune(100.0, true);
    EXPECT_TRUE(called("set_center_freq(100040000)"));
    EXPECT_EQ(controller->statusText, "Sluša 100.0000 MHz");
    controller->tune(101.5, false);
    EXPECT_TRUE(called("set_center_freq(101500000)"));
    EXPECT_DOUBLE_EQ(controller->frequencyMHz, 101.5);
    EXPECT_EQ(controller->statusText, "Sluša 101.5000 MHz");
}

TEST_F(ControllerFixture, TuneWhileStoppedOnlyRecordsTheFrequency) {
    controller->tune(104.6, true);
    EXPECT_DOUBLE_EQ(controller->frequencyMHz, 104.6);
    EXPECT_EQ(controller->statusText, "Zaustavljeno");
    EXPECT_TRUE(fake->calls().empty());
    controller->start();
    EXPECT_TRUE(called("set_center_freq(104640000)"));
}

TEST_F(ControllerFixture, KnobAdjustmentClampsAtZero) {
    controller->start();
    controller->adjustFrequencyContinuous(-200'000'000.0);
    EXPECT_DOUBLE_EQ(controller->frequencyMHz, 0.0);
    EXPECT_TRUE(called("set_center_freq(40000)"));
    controller->adjustFrequencyContinuous(25'000.0);
    EXPECT_DOUBLE_EQ(controller->frequencyMHz, 0.025);
}

TEST_F(ControllerFixture, GainSettersDriveTheTunerOnlyWhenTheyApply) {
    controller->start();
    fake->waitUntilDrained();
    fake->clearCalls();
    controller->setManualGainTenthsDB(150.0);
    EXPECT_TRUE(fake->calls().empty()) << "AGC is on: a manual gain change is only recorded";
    controller->setAgcEnabled(false);
    controller->setManualGainTenthsDB(-12.7);
    controller->setAgcEnabled(true);
    const std::vector<std::string> expected = {"set_tuner_gain_mode(1)", "set_tuner_gain(150)",
                                               "set_tuner_gain(-12)", "set_tuner_gain_mode(0)"};
    EXPECT_EQ(fake->calls(), expected);
}

TEST_F(ControllerFixture, TurningRDSOffClearsEveryRDSPropertyAndOnClearsNothing) {
    controller->rdsStationName = "RADIO 1";
    controller->rdsRadioText = "Text";
    controller->rdsProgramType = "Pop Music";
    controller->rdsPICode = "C201";
    controller->rdsTP = true;
    controller->rdsTA = true;
    controller->setRdsEnabled(true);
    EXPECT_EQ(controller->rdsStationName, "RADIO 1");
    controller->setRdsEnabled(false);
    EXPECT_FALSE(controller->rdsStationName);
    EXPECT_FALSE(controller->rdsRadioText);
    EXPECT_FALSE(controller->rdsProgramType);
    EXPECT_FALSE(controller->rdsPICode);
    EXPECT_FALSE(controller->rdsTP);
    EXPECT_FALSE(controller->rdsTA);
}

TEST_F(ControllerFixture, StreamFailureIsReportedWhileTheReceiverStaysOn) {
    fake->setResult("read_async", -5);
    controller->start();
    EXPECT_TRUE(queue->runUntil(
        [&] { return controller->statusText == "Greška strujanja: streamStartFailed(-5)"; }, 5s));
    EXPECT_TRUE(controller->isRunning);
    controller->stop();
    EXPECT_EQ(controller->statusText, "Zaustavljeno");
}

TEST_F(ControllerFixture, SelectingAStationTunesAndStarts) {
    const RadioStation station{.name = "Demo", .frequencyMHz = 98.5};
    controller->selectStation(station);
    EXPECT_EQ(controller->selectedStationID, station.id);
    EXPECT_TRUE(controller->isRunning);
    EXPECT_DOUBLE_EQ(controller->frequencyMHz, 98.5);
    EXPECT_TRUE(called("set_center_freq(98540000)"));
}

TEST_F(ControllerFixture, CPUTimerPublishesTheLoadEverySecond) {
    controller->cpuUsagePercent = -1.0;  // a value the monitor never reports
    EXPECT_TRUE(queue->runUntil([&] { return controller->cpuUsagePercent >= 0.0; }, 3s));
}

TEST_F(ControllerFixture, DestroyingARunningControllerJoinsEverything) {
    fake->queueBuffer(std::vector<std::uint8_t>(131'072, 100));
    controller->start();
    fake->waitUntilDrained();
    controller.reset();  // must return: threads stopped and joined, dongle closed
    EXPECT_TRUE(called("cancel_async()"));
    EXPECT_TRUE(called("close()"));
}

namespace {

// A sound device the test switches on and off: while unplugged, opening it throws as
// PortAudio does on a machine without one.
struct PluggableSoundDevice {
    struct Sink final : AudioSink {
        explicit Sink(PluggableSoundDevice& device) : device(device) {}
        void start(RenderCallback) override {
            if (!device.plugged) {
                throw AudioError{.kind = AudioError::Kind::noOutputDevice,
                                 .message = "PortAudio: no default output device"};
            }
            device.running = true;
        }
        void stop() override { device.running = false; }
        bool isRunning() const override { return device.running; }
        double deviceSampleRate() const override { return 48'000.0; }
        PluggableSoundDevice& device;
    };
    bool plugged = false;
    bool running = false;
};

std::vector<std::uint8_t> noiseBuffer(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(131'072);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng() >> 24);
    return bytes;
}

}  // namespace

TEST_F(ControllerFixture, WithoutASoundDeviceEverythingRunsSilentlyUntilARetryFindsOne) {
    PluggableSoundDevice device;
    auto tee = std::make_shared<AudioTee>();
    controller = SDRController::create({
        .dongle = [this] { return fake; },
        .audio = [&device](double) { return std::make_unique<PluggableSoundDevice::Sink>(device); },
        .silentAudio = [tee](double rateHz) {
            return std::make_unique<NullAudioSink>(NullAudioSinkConfig{.sampleRateHz = rateHz, .tee = tee});
        },
        .mainQueue = queue,
        .documentsDir = docs,
    });
    // Three USB buffers fit the IQ ring; FM-demodulated noise is loud audio.
    for (unsigned k = 0; k < 3; ++k) fake->queueBuffer(noiseBuffer(k));
    controller->start();
    ASSERT_TRUE(controller->isRunning);
    EXPECT_FALSE(controller->audioOutputAvailable);
    EXPECT_EQ(controller->audioOutputProblem, "noOutputDevice(\"PortAudio: no default output device\")");
    EXPECT_EQ(controller->statusText, "Sluša 92.1000 MHz · bez zvuka");

    // The chain runs: spectrum and audio levels are published, and the silent sink pulls.
    fake->waitUntilDrained();
    EXPECT_EQ(controller->samplesReceived(), 3u * 65'536u);
    EXPECT_TRUE(queue->runUntil([&] { return !controller->spectrum.empty() && controller->audioLevelL > 0.0f; }, 10s));
    EXPECT_TRUE(queue->runUntil([&] { return tee->totalFrames() > 0; }, 10s));
    controller->tune(100.0, true);
    EXPECT_EQ(controller->statusText, "Sluša 100.0000 MHz · bez zvuka");

    controller->retryAudioOutput();  // still unplugged
    EXPECT_FALSE(controller->audioOutputAvailable);
    EXPECT_TRUE(controller->audioOutputProblem);
    EXPECT_EQ(controller->statusText, "Sluša 100.0000 MHz · bez zvuka");

    device.plugged = true;
    controller->retryAudioOutput();
    EXPECT_TRUE(controller->audioOutputAvailable);
    EXPECT_FALSE(controller->audioOutputProblem);
    EXPECT_TRUE(device.running);
    EXPECT_EQ(controller->statusText, "Sluša 100.0000 MHz");

    // The next start opens the device directly.
    controller->stop();
    device.plugged = false;
    controller->start();
    EXPECT_FALSE(controller->audioOutputAvailable);
    device.plugged = true;
    controller->stop();
    controller->start();
    EXPECT_TRUE(controller->audioOutputAvailable);
    EXPECT_EQ(controller->statusText, "Sluša 100.0000 MHz");
}
