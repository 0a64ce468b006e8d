#include "control/ControllerSettings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "control/SDRController.h"
#include "support/FakeRtlSdrApi.h"

namespace {

struct ControllerSettingsFixture : ::testing::Test {
    std::shared_ptr<FakeRtlSdrApi> fake = std::make_shared<FakeRtlSdrApi>();
    std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
    std::filesystem::path docs = std::filesystem::temp_directory_path() / "vantirel-ctl-settings-test";
    std::shared_ptr<SDRController> controller;

    void SetUp() override {
        std::filesystem::remove_all(docs);
        controller = SDRController::create(
            {.dongle = [this] { return fake; }, .audio = nullptr, .mainQueue = queue, .documentsDir = docs});
    }
    void TearDown() override {
        controller.reset();
        std::filesystem::remove_all(docs);
    }
};

// The radio part away from every default.
ReceiverSettings radioChanged() {
    return ReceiverSettings{.frequencyMHz = 145.525, .mode = DemodMode::am, .narrowbandFM = true,
                            .stereoEnabled = true, .agcEnabled = false, .manualGainTenthsDB = 207.0,
                            .frequencyCorrectionPPM = 31, .audioVolume = 0.9, .audioBalance = 0.4,
                            .squelchEnabled = true, .squelchThresholdDB = -55.0, .nbEnabled = true,
                            .nbThreshold = 8.0, .nrEnabled = true, .nrAmount = 0.3, .notchEnabled = true,
                            .notchFrequencyHz = 600.0, .rdsEnabled = false};
}

}  // namespace

TEST_F(ControllerSettingsFixture, ApplyThenCaptureGivesTheRadioSettingsBack) {
    applySettings(*controller, radioChanged());
    ReceiverSettings base;
    base.sidebarSection = "Decoders";
    base.feeds.rigctl.enabled = true;
    ReceiverSettings expected = radioChanged();
    expected.sidebarSection = "Decoders";
    expected.feeds.rigctl.enabled = true;
    EXPECT_EQ(captureSettings(*controller, base), expected) << "the window's part comes from the base";
}

TEST_F(ControllerSettingsFixture, AppliedSettingsReachTheDongleAtStart) {
    applySettings(*controller, radioChanged());
    fake->setDeviceCount(1);
    controller->start();
    const auto calls = fake->calls();
    const auto called = [&](const std::string& call) { return std::find(calls.begin(), calls.end(), call) != calls.end(); };
    EXPECT_TRUE(called("set_freq_correction(31)"));
    EXPECT_TRUE(called("set_tuner_gain_mode(1)")) << "AGC off";
    EXPECT_TRUE(called("set_tuner_gain(207)")) << "the remembered manual gain";
    controller->stop();
}

TEST_F(ControllerSettingsFixture, ADSBDoesNotReplaceTheRememberedTuning) {
    applySettings(*controller, radioChanged());
    controller->setADSBEnabled(true);
    ASSERT_DOUBLE_EQ(controller->frequencyMHz, 1090.0);
    const ReceiverSettings captured = captureSettings(*controller, radioChanged());
    EXPECT_DOUBLE_EQ(captured.frequencyMHz, 145.525) << "1090 MHz belongs to ADS-B, not to the listener";
    EXPECT_EQ(captured.mode, DemodMode::am);
}
