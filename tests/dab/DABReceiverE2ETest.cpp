// The DAB side of the receiver on the simulated dongle: band scan, acquisition and the FIC,
// against ensembles the simulated transmitters send through noise, echo and crystal error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "DABShownText.h"
#include "support/SimulatedReceiver.h"
#include "platform/DebugLog.h"
#include "sim/DABTxEnsemble.h"
#include "sim/DemoScene.h"

namespace {

const DemoDABEnsemble& demoEnsemble(const std::string& channel) {
    static const std::vector<DemoDABEnsemble> all = demoDABEnsembles();
    const auto it = std::find_if(all.begin(), all.end(), [&](const DemoDABEnsemble& e) { return e.channel == channel; });
    if (it == all.end()) throw std::runtime_error("no demo ensemble on " + channel);
    return *it;
}

bool ensembleComplete(const SDRController& c, const DABTxEnsemble& sent) {
    if (c.dabEnsembleLabel != shownDABText(sent.label) || c.dabEnsembleId != sent.eid) return false;
    const std::size_t services = sent.services.size() + (sent.dataService ? 1 : 0);
    if (c.dabServices.size() != services || c.dabSubchannelsInfo.size() != sent.subchannels.size()) return false;
    return std::all_of(c.dabServices.begin(), c.dabServices.end(),
                       [](const DABServiceInfo& s) { return s.label.rfind("SId ", 0) != 0; });
}

// Everything the transmitter announced, as the receiver published it.
void expectEnsembleAsSent(const SDRController& c, const DABTxEnsemble& sent) {
    EXPECT_EQ(c.dabEnsembleLabel, shownDABText(sent.label));
    EXPECT_EQ(c.dabEnsembleId, sent.eid);
    for (const DABTxService& s : sent.services) {
        const auto row = std::find_if(c.dabServices.begin(), c.dabServices.end(),
                                      [&](const DABServiceInfo& r) { return r.serviceID == s.sid; });
        ASSERT_NE(row, c.dabServices.end()) << std::hex << s.sid;
        EXPECT_EQ(row->label, shownDABText(s.label));
        const auto sub = std::find_if(sent.subchannels.begin(), sent.subchannels.end(),
                                      [&](const DABTxSubchannel& x) { return x.id == s.subchannelId; });
        ASSERT_NE(sub, sent.subchannels.end());
        EXPECT_EQ(row->bitrateKbps, dabTxBitrateKbps(*sub)) << s.label;
    }
    if (sent.dataService) {
        const auto row = std::find_if(c.dabServices.begin(), c.dabServices.end(),
                                      [&](const DABServiceInfo& r) { return r.serviceID == sent.dataService->sid; });
        ASSERT_NE(row, c.dabServices.end());
        EXPECT_EQ(row->label, shownDABText(sent.dataService->label));
    }
    ASSERT_EQ(c.dabSubchannelsInfo.size(), sent.subchannels.size());
    for (const DABTxSubchannel& s : sent.subchannels) {
        const auto row = std::find_if(c.dabSubchannelsInfo.begin(), c.dabSubchannelsInfo.end(),
                                      [&](const DABSubchannelInfo& r) { return r.id == s.id; });
        ASSERT_NE(row, c.dabSubchannelsInfo.end()) << s.id;
        EXPECT_EQ(row->startCU, s.startCU);
        EXPECT_EQ(row->sizeCU, s.sizeCU);
        EXPECT_EQ(row->isShort, s.protection == DABTxProtection::uep);
        EXPECT_EQ(row->bitrateKbps, dabTxBitrateKbps(s)) << "sub-channel " << s.id;
        EXPECT_TRUE(row->linkedServiceId.has_value()) << "sub-channel " << s.id;
    }
}

struct Lock {
    bool complete = false;
    int bestFIBs = 0;
};

// Pumps until the stream shows the whole ensemble with 12 of 12 FIBs in a frame.
Lock waitForEnsemble(SimulatedReceiver& rx, const DABTxEnsemble& sent, double signalSeconds) {
    Lock lock;
    SDRController& c = *rx.controller;
    lock.complete = rx.waitFor(
        [&] {
            if (c.dabStreamRunning) lock.bestFIBs = std::max(lock.bestFIBs, c.dabFICCRCCount);
            return c.dabStreamRunning && lock.bestFIBs == 12 && !c.dabConstellation.empty() &&
                   ensembleComplete(c, sent);
        },
        signalSeconds);
    return lock;
}

TEST(DABReceiverE2E, ScanFindsTheEnsemblesAndConnectsToTheStrongest) {
    // A cheap dongle's crystal: the ensembles sit kilohertz off and the sample clock runs fast.
    SimulatedReceiver rx(2.0, makeDemoScene(50.0));
    SDRController& c = *rx.controller;
    c.start();
    ASSERT_TRUE(c.isRunning);
    c.startDABScan(true);
    ASSERT_TRUE(c.dabScanning);
    ASSERT_TRUE(rx.waitFor([&] { return !c.dabScanning; }, 30.0)) << c.dabStatus;

    ASSERT_EQ(c.dabResults.size(), DABChannel::bandIII().size());
    std::vector<std::string> withSignal;
    for (const DABScanResult& r : c.dabResults)
        if (r.hasSignal()) withSignal.push_back(r.channel.label);
    std::sort(withSignal.begin(), withSignal.end());
    EXPECT_EQ(withSignal, (std::vector<std::string>{"12C", "5C"}));
    // Auto-connect moved on to the strongest ensemble and says so.
    EXPECT_EQ(c.dabStatus, "12C  SNR ~" + formatString("%.0f", c.dabResults.front().snrEstimate) + " dB");
    EXPECT_EQ(c.dabResults.front().channel.label, "12C");

    const DemoDABEnsemble& strongest = demoEnsemble("12C");
    const Lock lock = waitForEnsemble(rx, strongest.ensemble, 20.0);
    EXPECT_TRUE(lock.complete) << c.dabFICStatus << " label '" << c.dabEnsembleLabel << "'";
    EXPECT_EQ(lock.bestFIBs, 12);
    EXPECT_NEAR(c.frequencyMHz, 227.360, 1e-6);
    expectEnsembleAsSent(c, strongest.ensemble);
    EXPECT_EQ(c.statusText, "DAB 12C 227.360 MHz");
    EXPECT_GT(c.dabPRSCorrelation, 0.5f);
    // 50 ppm below the crystal's nominal: about 11.4 kHz, found as whole carriers plus a rest.
    EXPECT_NEAR(c.dabFreqOffsetHz, -50e-6 * 227.360e6, 150.0);
    EXPECT_FALSE(c.dabConstellation.empty());

    c.stopDABStreaming(true);
    ASSERT_TRUE(rx.waitFor([&] { return !c.dabStreamRunning && !c.dabActive; }, 10.0));
    EXPECT_EQ(c.dabFICStatus, "DAB streaming stopped");
}

struct OffTune {
    const char* channel;
    double tunerOffsetKHz;  // the tuner's error against the channel centre
    double fractionalHz;    // a carrier rest below one carrier spacing
    double crystalPPM;
};

class DABAcquisitionE2E : public ::testing::TestWithParam<OffTune> {};

TEST_P(DABAcquisitionE2E, LocksAndReadsEveryFIBOffFrequency) {
    const OffTune p = GetParam();
    const DemoDABEnsemble& sent = demoEnsemble(p.channel);
    // The crystal sets the sample clock's error; the fractional rest is added on top of it.
    const double f = sent.frequencyHz;
    const double ppm = p.crystalPPM - p.fractionalHz / f * 1e6;
    SimulatedReceiver rx(2.0, makeDemoScene(ppm));
    SDRController& c = *rx.controller;
    const double crystalShiftHz = -ppm * 1e-6 * f;
    // Tune so that the ensemble lands at (−offset + crystal) from the tuner, i.e. the tuner
    // errs by offset.
    c.tune((f - p.tunerOffsetKHz * 1e3) / 1e6, false);
    c.start();
    ASSERT_TRUE(c.isRunning);
    c.startDABStreaming();
    const Lock lock = waitForEnsemble(rx, sent.ensemble, 25.0);
    EXPECT_TRUE(lock.complete) << c.dabFICStatus;
    EXPECT_EQ(lock.bestFIBs, 12);
    expectEnsembleAsSent(c, sent.ensemble);
    // The ensemble's offset as the receiver measures it, wherever the tuner ended.
    const double expected = f + crystalShiftHz - c.frequencyMHz * 1e6;
    EXPECT_NEAR(c.dabFreqOffsetHz, expected, 60.0) << "tuned to " << c.frequencyMHz;

    // Locked stays locked: the frame loop follows the drifting sample clock frame by frame.
    int worst = 12;
    rx.waitFor(
        [&] {
            worst = std::min(worst, c.dabFICCRCCount);
            return false;
        },
        4.0);
    EXPECT_GE(worst, 11) << c.dabFICStatus;
    EXPECT_TRUE(c.dabStreamRunning);
}

INSTANTIATE_TEST_SUITE_P(
    TunerErrors, DABAcquisitionE2E,
    ::testing::Values(OffTune{"12C", 1.0, 0.0, 0.0}, OffTune{"12C", 3.0, 0.0, 0.0},
                      OffTune{"5C", 23.0, 0.0, 0.0}, OffTune{"12C", -41.0, 0.0, 0.0},
                      OffTune{"5C", 0.0, 100.0, 0.0}, OffTune{"12C", 0.0, 0.0, -50.0}),
    [](const ::testing::TestParamInfo<OffTune>& info) {
        const OffTune& p = info.param;
        std::string name = std::string(p.channel) + "_" + std::to_string(static_cast<int>(std::lround(std::abs(p.tunerOffsetKHz)))) +
                           (p.tunerOffsetKHz < 0 ? "kHzBelow" : "kHz") + "_" +
                           std::to_string(static_cast<int>(p.fractionalHz)) + "Hz_" +
                           std::to_string(static_cast<int>(std::abs(p.crystalPPM))) + (p.crystalPPM < 0 ? "ppmSlow" : "ppm");
        return name;
    });

}  // namespace
