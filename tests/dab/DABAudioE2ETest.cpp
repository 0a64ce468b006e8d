// DAB+ audio on the simulated dongle: each demo service's own programme comes out of the
// audio output, service switches change it, a silent sub-channel is left, stop returns to FM.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "audio/AudioFileReader.h"
#include "support/SimulatedReceiver.h"
#include "sim/DemoScene.h"

namespace {

constexpr double kPlayedRateHz = 51'200.0;  // the simulated sound device's rate

const DABChannel& channel(const std::string& label) {
    const auto& band = DABChannel::bandIII();
    return *std::find_if(band.begin(), band.end(), [&](const DABChannel& c) { return c.label == label; });
}

// The demo tone that dominates a played block, among every tone the demo services send.
double dominantDemoTone(std::span<const float> samples) {
    std::vector<double> tones;
    for (const DemoDABEnsemble& e : demoDABEnsembles())
        for (const DemoDABProgramme& p : e.programmes) {
            tones.push_back(p.audio.leftToneHz);
            if (p.audio.isStereo) tones.push_back(p.audio.rightToneHz);
        }
    double best = 0.0, bestPower = 0.0, total = 0.0;
    for (const double tone : tones) {
        const double power = tonePower(samples, tone, kPlayedRateHz);
        total += power;
        if (power > bestPower) {
            bestPower = power;
            best = tone;
        }
    }
    // Dominant means clearly: nine tenths of all demo-tone power.
    return bestPower > 0.9 * total && bestPower > 1e-4 ? best : 0.0;
}

struct DABAudioE2E : ::testing::Test {
    SimulatedReceiver rx{2.0};
    SDRController& c = *rx.controller;

    void startOn(const std::string& label) {
        c.start();
        ASSERT_TRUE(c.isRunning);
        c.selectDABChannel(DABScanResult{.channel = channel(label), .snrEstimate = 20.0f});
        ASSERT_TRUE(c.dabStreamRunning);
    }
    // Waits (in signal time) until the left channel's dominant tone is `tone`.
    bool waitForTone(double tone, double signalSeconds, bool right = false) {
        for (double waited = 0.0; waited < signalSeconds; waited += 0.25) {
            const AudioTee::Capture played = rx.captureAudio(0.25);
            const std::vector<float>& side = right ? played.right : played.left;
            if (side.size() > 4'000 && dominantDemoTone(std::span<const float>(side).last(4'000)) == tone) return true;
        }
        return false;
    }
};

TEST_F(DABAudioE2E, PlaysTheServiceItsOwnProgrammeAndSwitches) {
    startOn("12C");
    const DemoDABProgramme first = *demoDABProgramme(0x2C11);
    ASSERT_TRUE(waitForTone(first.audio.leftToneHz, 8.0)) << c.dabFICStatus;
    EXPECT_TRUE(waitForTone(first.audio.rightToneHz, 1.0, /*right=*/true));
    EXPECT_EQ(c.dabSelectedServiceId, 0x2C11u);
    EXPECT_TRUE(c.dabIsStereo);
    EXPECT_GT(c.dabSuperframeCount, 0);
    EXPECT_EQ(c.dabRSHuntMissStreak, 0);

    // Another service: its programme within the de-interleaver's warm-up and a superframe or two.
    c.selectDABService(0x2C13);
    EXPECT_TRUE(waitForTone(demoDABProgramme(0x2C13)->audio.leftToneHz, 2.5)) << c.dabFICStatus;
    EXPECT_FALSE(c.dabIsStereo);
    EXPECT_NE(c.dabFICStatus.find("service switched"), std::string::npos) << c.dabFICStatus;
}

TEST_F(DABAudioE2E, LeavesASubchannelWithoutAudioForOneThatPlays) {
    startOn("5C");
    // 0x2C22 sits on a short-form sub-channel: classic DAB protection, no DAB+ superframes.
    c.selectDABService(0x2C22);
    ASSERT_TRUE(rx.waitFor([&] { return c.dabSelectedServiceId && *c.dabSelectedServiceId != 0x2C22u; }, 15.0))
        << c.dabFICStatus;
    const std::optional<DemoDABProgramme> now = demoDABProgramme(static_cast<std::uint16_t>(*c.dabSelectedServiceId));
    ASSERT_TRUE(now.has_value());
    EXPECT_TRUE(waitForTone(now->audio.leftToneHz, 6.0)) << c.dabFICStatus;
}

TEST_F(DABAudioE2E, RecordsInTheDecodedFormatAndStopReturnsToFM) {
    // Listening to FM first: that is where the stop comes back to.
    c.tune(95.3, true);
    startOn("12C");
    ASSERT_TRUE(rx.waitFor([&] { return c.dabSuperframeCount > 3; }, 8.0)) << c.dabFICStatus;
    c.recordingMode = "audio";
    c.startRecording();
    ASSERT_TRUE(c.isRecording);
    rx.run(1.0);
    c.stopRecording();
    ASSERT_TRUE(c.lastRecordingURL.has_value());
    std::string error;
    const auto file = AudioFileReader::open(*c.lastRecordingURL, error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_EQ(file->info().sampleRateHz, 48'000.0);
    EXPECT_EQ(file->info().channels, 2);
    EXPECT_GT(file->info().frames, 24'000);

    c.stopDABStreaming(true);
    ASSERT_TRUE(rx.waitFor([&] { return !c.dabStreamRunning && !c.dabActive; }, 10.0));
    EXPECT_DOUBLE_EQ(c.frequencyMHz, 95.3);
    EXPECT_EQ(c.dabFICStatus, "DAB streaming stopped");
    EXPECT_TRUE(c.rdsEnabled());
}

}  // namespace
