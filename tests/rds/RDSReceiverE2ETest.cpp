// End to end on the simulated dongle: what the demo stations' RDS sends reaches the
// controller's published RDS record, through the dongle model, the discriminator and the
// demodulator.
#include <gtest/gtest.h>

#include <string>

#include "control/ControllerJSON.h"
#include "sim/DemoScene.h"
#include "support/SimulatedReceiver.h"

namespace {

// RDS has no capital D with stroke: the transmitter sends the eth (0xCE), same glyph.
std::string asReceived(std::string text) {
    for (std::size_t at = 0; (at = text.find("Đ", at)) != std::string::npos;) text.replace(at, 2, "Ð");
    return text;
}

// The demo's start station sends everything: diacritics, clock, AF, PTYN, ECC, language, RT+.
TEST(RDSReceiverE2ETest, PublishesEverythingTheStartStationSends) {
    SimulatedReceiver rx;
    SDRController& c = *rx.controller;
    c.start();
    const DemoRDS sent = *demoRDS(kDemoStartFrequencyHz);
    const std::string text = asReceived(sent.radioText);
    const RDSProgrammeInfo& d = c.rdsDetails;
    ASSERT_TRUE(rx.waitFor([&] {
        return d.clockTime && !d.radioTextPlusTitle.empty() && !d.ptyName.empty() && d.languageCode &&
               d.extendedCountryCode && !d.alternativeFrequenciesKHz.empty() && d.radioText == text;
    }, 12.0)) << controllerStatusJSON(c).dump();

    EXPECT_EQ(d.pi, sent.pi);
    EXPECT_EQ(d.ps, sent.ps);
    EXPECT_EQ(c.rdsRadioText, text) << "the running text keeps its diacritics";
    EXPECT_EQ(d.ptyName, sent.ptyName);
    EXPECT_EQ(d.alternativeFrequenciesKHz, sent.alternativeFrequenciesKHz);
    EXPECT_EQ(d.extendedCountryCode, sent.extendedCountryCode);
    EXPECT_EQ(d.languageCode, sent.languageCode);
    EXPECT_EQ(d.radioTextPlusArtist, "Ðurđa Kovačić");
    EXPECT_EQ(d.radioTextPlusTitle, "Šetnja uz Dravu");
    EXPECT_TRUE(d.radioTextPlusItemRunning);
    EXPECT_EQ(d.stereo, sent.stereo);
    EXPECT_EQ(d.music, sent.music);
    EXPECT_FALSE(d.sendsVersionB);
    ASSERT_TRUE(d.clockTime);
    EXPECT_EQ(d.clockTime->year, sent.clockTime->year);
    EXPECT_EQ(d.clockTime->month, sent.clockTime->month);
    EXPECT_EQ(d.clockTime->day, sent.clockTime->day);
    EXPECT_EQ(d.clockTime->localOffsetHalfHours, sent.clockTime->localOffsetHalfHours);

    // A stereo station: the subcarrier phase comes from the pilot; groups arrive at the full
    // rate (11.4/s) with few block errors on this strong signal.
    ASSERT_TRUE(rx.waitFor([&] { return c.rdsStatistics.groupsPerSecond > 10.0; }, 6.0));
    EXPECT_TRUE(c.rdsPilotLocked);
    EXPECT_TRUE(c.rdsStatistics.synced);
    EXPECT_LT(c.rdsStatistics.blockErrorRate, 0.02);
}

// A station sending version B groups (0B, 2B: offset C' in block 3) keeps block sync and is
// named, diacritics and all; a retune clears the record.
TEST(RDSReceiverE2ETest, DecodesAVersionBStation) {
    SimulatedReceiver rx;
    SDRController& c = *rx.controller;
    c.tune(95.7, true);
    c.start();
    const DemoRDS sent = *demoRDS(95'700'000.0);
    ASSERT_TRUE(sent.versionB);
    ASSERT_EQ(sent.ps, "ČAKOVEC");
    ASSERT_TRUE(rx.waitFor([&] {
        return c.rdsDetails.radioText == sent.radioText && c.rdsStationName == sent.ps;
    }, 12.0)) << controllerStatusJSON(c).dump();
    EXPECT_TRUE(c.rdsDetails.sendsVersionB);
    EXPECT_EQ(c.rdsPICode, "C215");
    ASSERT_TRUE(rx.waitFor([&] { return c.rdsStatistics.groupsPerSecond > 10.0; }, 6.0));

    c.tune(kDemoStartFrequencyHz / 1e6, true);
    EXPECT_FALSE(c.rdsDetails.pi);
    EXPECT_TRUE(c.rdsDetails.ps.empty());
}

}  // namespace
