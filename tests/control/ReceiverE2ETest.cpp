// End to end on the simulated dongle: the real controller, threads and a null sound device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <nlohmann/json.hpp>

#include "sim/ADSBAircraftEmitter.h"
#include "sim/DemoScene.h"
#include "sim/FMBroadcastEmitter.h"
#include "support/SimulatedReceiver.h"

namespace {

constexpr double kAudioRate = 51'200.0;

double meanSquare(const std::vector<float>& x) {
    double sum = 0.0;
    for (float v : x) sum += static_cast<double>(v) * v;
    return x.empty() ? 0.0 : sum / static_cast<double>(x.size());
}

}  // namespace

// Records the receiver's audio as it leaves the processing thread (no output buffering in
// between) for `seconds` of signal from the moment of the call, and returns it.
AudioTee::Capture recordFromNow(SimulatedReceiver& rx, double seconds) {
    SDRController& c = *rx.controller;
    c.startRecording();
    EXPECT_TRUE(c.isRecording);
    const std::filesystem::path wav = *c.lastRecordingURL;
    const int channels = c.stereoEnabled ? 2 : 1;  // FM: stereo wanted records two
    const auto wanted =
        static_cast<std::uintmax_t>(44 + 2 * channels * (seconds * kAudioRate + 4'096));
    EXPECT_TRUE(
        rx.waitFor([&] { return std::filesystem::file_size(wav) >= wanted; }, seconds * 4.0));
    c.stopRecording();
    std::ifstream in(wav, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    AudioTee::Capture out;
    if (bytes.size() < 44) return out;
    const std::size_t fileChannels = bytes[22] == 2 ? 2 : 1;  // a mono programme has one
    for (std::size_t at = 44; at + 2 * fileChannels <= bytes.size(); at += 2 * fileChannels) {
        std::int16_t l = 0, r = 0;
        std::memcpy(&l, &bytes[at], 2);
        std::memcpy(&r, &bytes[at + 2 * (fileChannels - 1)], 2);
        out.left.push_back(float(l) / 32767.0f);
        out.right.push_back(float(r) / 32767.0f);
    }
    return out;
}

// Level of a tone within [fromSeconds, fromSeconds + seconds) of a capture, in dB.
double toneDB(const std::vector<float>& x, double toneHz, double fromSeconds, double seconds) {
    const auto from = std::size_t(fromSeconds * kAudioRate);
    const auto count = std::size_t(seconds * kAudioRate);
    if (x.size() < from + count) return -400.0;
    const auto window = std::span<const float>(x).subspan(from, count);
    return 10.0 * std::log10(tonePower(window, toneHz, kAudioRate) + 1e-40);
}

TEST(ReceiverE2ETest, StereoSeparatesSoonAfterATuneAndMonoStationsStayMono) {
    SimulatedReceiver rx;
    SDRController& c = *rx.controller;
    c.stereoEnabled = true;
    // The audio tools run per channel: with one shared state the right channel would carry
    // the left programme at about -25 dB and the separation below would fail.
    c.nrEnabled = true;
    c.notchEnabled = true;
    c.notchFrequencyHz = 5'000.0;
    c.tune(91.3, true);
    c.start();
    ASSERT_TRUE(c.isRunning) << c.statusText;
    ASSERT_TRUE(rx.waitFor([&] { return c.stereoDetected.get(); }, 2.0));

    // The demo station on 92.1 MHz plays 1 kHz on the left and 2 kHz on the right; its pilot
    // has nothing to do with the one the loop followed on 91.3 MHz.
    c.tune(92.1, true);
    const AudioTee::Capture tuned = recordFromNow(rx, 3.0);
    const auto separationDB = [&](double from, double seconds) {
        return std::min(toneDB(tuned.left, kDemoLeftToneHz, from, seconds) -
                            toneDB(tuned.right, kDemoLeftToneHz, from, seconds),
                        toneDB(tuned.right, kDemoRightToneHz, from, seconds) -
                            toneDB(tuned.left, kDemoRightToneHz, from, seconds));
    };
    EXPECT_GT(separationDB(0.5, 0.1), 20.0) << "half a second after the tune";
    EXPECT_GT(separationDB(2.0, 1.0), 40.0) << "settled";
    EXPECT_TRUE(c.stereoDetected);

    c.nrEnabled = false;
    c.notchEnabled = false;
    c.stereoEnabled = false;
    EXPECT_TRUE(rx.waitFor([&] { return !c.stereoDetected; }, 2.0));
    const AudioTee::Capture mono = rx.captureAudio(1.0);
    const double m1 = tonePower(mono.left, kDemoLeftToneHz, kAudioRate);
    const double m2 = tonePower(mono.left, kDemoRightToneHz, kAudioRate);
    EXPECT_LT(std::abs(powerRatioDB(m1, m2)), 6.0) << "mono carries both channels";
    EXPECT_LT(std::abs(powerRatioDB(meanSquare(mono.left), meanSquare(mono.right))), 0.5);

    // A mono station (no pilot) with stereo wanted: never reported as stereo, left = right.
    c.stereoEnabled = true;
    c.tune(88.9, true);
    bool everStereo = false;
    rx.waitFor([&] {
        everStereo = everStereo || c.stereoDetected;
        return false;
    }, 1.5);
    EXPECT_FALSE(everStereo);
    const AudioTee::Capture monoStation = recordFromNow(rx, 1.0);
    ASSERT_GT(monoStation.left.size(), 40'000u);
    std::vector<float> difference(monoStation.left.size());
    for (std::size_t n = 0; n < difference.size(); ++n)
        difference[n] = monoStation.left[n] - monoStation.right[n];
    EXPECT_EQ(meanSquare(difference), 0.0);
    EXPECT_GT(meanSquare(monoStation.left), 1e-6);
}

TEST(ReceiverE2ETest, MonoAndStereoShareAFlatResponse) {
    // A station of our own: left-only tones across the audio band, 50 µs pre-emphasis at the
    // transmitter, de-emphasis in the receiver. The response, taken against the lowest tone,
    // is flat within 1 dB to 15 kHz in stereo and in mono, and the same in both within 0.2 dB;
    // the right channel stays 40 dB down. The tones share no grid with the 40 kHz tuning
    // offset, so no line of the FM spectrum sits exactly on the dongle's DC, which the
    // receiver's offset removal takes out along with the leak.
    const std::vector<double> tonesHz = {1'013.0, 5'031.0, 10'079.0, 14'983.0};
    FMProgramme programme{.right = {}, .isStereo = true};
    for (double f : tonesHz) programme.left.push_back({.frequencyHz = f, .amplitude = 0.05});
    auto scene = std::make_shared<RFScene>(RFSceneConfig{.noiseFloorRms = kDemoNoiseFloorRms});
    scene->addEmitter(std::make_shared<FMBroadcastEmitter>(
        FMBroadcastConfig{.carrierHz = 92'100'000.0, .amplitude = 0.05, .programme = programme}));
    SimulatedReceiver rx(2.0, scene);
    SDRController& c = *rx.controller;
    c.stereoEnabled = true;
    c.start();
    ASSERT_TRUE(rx.waitFor([&] { return c.stereoDetected.get(); }, 2.0));
    rx.run(0.5);
    const AudioTee::Capture stereo = recordFromNow(rx, 1.0);
    c.stereoEnabled = false;
    rx.run(0.5);
    const AudioTee::Capture mono = recordFromNow(rx, 1.0);
    const double stereoRef = toneDB(stereo.left, tonesHz[0], 0.0, 1.0);
    const double monoRef = toneDB(mono.left, tonesHz[0], 0.0, 1.0);
    for (double f : tonesHz) {
        SCOPED_TRACE(f);
        const double s = toneDB(stereo.left, f, 0.0, 1.0) - stereoRef;
        const double m = toneDB(mono.left, f, 0.0, 1.0) - monoRef;
        EXPECT_NEAR(s, 0.0, 1.0);
        EXPECT_NEAR(m, 0.0, 1.0);
        EXPECT_NEAR(s, m, 0.2);
        EXPECT_LT(toneDB(stereo.right, f, 0.0, 1.0) - toneDB(stereo.left, f, 0.0, 1.0), -40.0);
    }
}

TEST(ReceiverE2ETest, PublishesRDSAndTheSpectrumOfTheTunedStation) {
    SimulatedReceiver rx;
    SDRController& c = *rx.controller;
    c.start();
    // The full RadioText takes several 2A groups; wait for the last segment.
    ASSERT_TRUE(rx.waitFor([&] {
        return c.rdsStationName && c.rdsPICode && c.rdsRadioText && c.rdsRadioText->rfind("Vantirel", 0) == 0;
    }, 10.0));
    EXPECT_EQ(*c.rdsStationName, "VANTIREL");
    EXPECT_EQ(*c.rdsPICode, "C201");
    EXPECT_TRUE(c.rdsTP);
    EXPECT_FALSE(c.rdsTA);
    EXPECT_TRUE(c.rdsProgramType.has_value());

    ASSERT_TRUE(rx.waitFor([&] { return c.spectrum.size() == 96 && c.waterfallHistory.size() > 5; }, 3.0));
    const auto peak = std::max_element(c.spectrum.begin(), c.spectrum.end()) - c.spectrum.begin();
    EXPECT_NEAR(static_cast<double>(peak), 48.0, 2.0) << "the station sits at the centre marker";
    const float strongSNR = c.snrDB;
    EXPECT_GT(strongSNR, 20.0f);
    EXPECT_GT(c.channelLevelDB, c.noiseFloorDB + 20.0f);

    // The same receiver on the weak mono station 101.1 MHz (no RDS): lower SNR, names cleared.
    c.tune(101.1, true);
    EXPECT_FALSE(c.rdsStationName);
    rx.run(2.0);
    EXPECT_LT(c.snrDB, strongSNR);
    EXPECT_FALSE(c.rdsStationName) << "a station without RDS keeps no stale name";
}

TEST(ReceiverE2ETest, LevelsReadInDBFSAndTheDefaultSquelchTellsAStationFromAnEmptyChannel) {
    SimulatedReceiver rx;
    SDRController& c = *rx.controller;
    c.squelchEnabled = true;  // at its default threshold
    c.start();
    // The demo's strong station: high on the meter, below full scale.
    rx.run(1.5);
    EXPECT_GT(c.channelLevelDB, -35.0f);
    EXPECT_LT(c.signalLevelDB, 0.0f);
    EXPECT_GT(c.signalStrengthNormalized, 0.6f);
    EXPECT_LT(c.signalStrengthNormalized, 1.0f) << "a strong station does not pin the meter";
    EXPECT_GT(meanSquare(rx.captureAudio(0.5).left), 1e-6) << "the squelch opens on a station";

    // 100.0 MHz: no station within 1 MHz, so the automatic gain lifts the noise as high as it
    // ever gets. The channel reads its noise, close to the floor and below the squelch.
    c.tune(100.0, true);
    rx.run(2.0);
    EXPECT_LT(c.channelLevelDB, c.noiseFloorDB + 6.0f);
    EXPECT_LT(c.channelLevelDB, c.squelchThresholdDB - 2.0);
    EXPECT_LT(c.signalStrengthNormalized, 0.6f);
    const AudioTee::Capture empty = rx.captureAudio(1.0);
    EXPECT_LT(meanSquare(empty.left) + meanSquare(empty.right), 1e-12) << "the squelch closes";
}

TEST(ReceiverE2ETest, ScanRecordsEachStationAtItsOwnStep) {
    // A station every 400-600 kHz at levels 16 dB apart; wide FM, so the skirt of each already
    // stands out at the step below it.
    struct Station {
        double mhz;
        double amplitude;
    };
    const Station stations[] = {{97.3, 0.03}, {97.8, 0.01}, {98.4, 0.05},
                                {98.9, 0.008}, {99.5, 0.02}, {99.9, 0.04}};
    auto scene = std::make_shared<RFScene>(RFSceneConfig{.noiseFloorRms = kDemoNoiseFloorRms});
    for (const Station& s : stations) {
        const FMProgramme programme{.left = {{.frequencyHz = 700.0, .amplitude = 0.6}},
                                    .right = {{.frequencyHz = 1'900.0, .amplitude = 0.6}}};
        scene->addEmitter(std::make_shared<FMBroadcastEmitter>(
            FMBroadcastConfig{.carrierHz = s.mhz * 1e6, .amplitude = s.amplitude,
                              .programme = programme}));
    }
    SimulatedReceiver rx(4.0, scene);
    SDRController& c = *rx.controller;
    c.mode = DemodMode::am;  // no RDS wait: only where the stations are found matters here
    c.start();
    BandDefinition band = BandDefinition::fmBand();
    band.startMHz = 97.0;
    band.endMHz = 100.2;
    c.startScan(band);
    ASSERT_TRUE(rx.waitFor([&] { return !c.isScanning; }, 30.0));
    std::vector<double> found;
    for (const FoundStation& s : c.foundStations) found.push_back(s.frequencyMHz);
    ASSERT_EQ(found.size(), std::size(stations)) << testing::PrintToString(found);
    for (std::size_t k = 0; k < found.size(); ++k)
        EXPECT_NEAR(found[k], stations[k].mhz, 1e-6) << k;
}

TEST(ReceiverE2ETest, AMSquelchAndBalanceShapeTheOutput) {
    SimulatedReceiver rx;
    SDRController& c = *rx.controller;
    c.mode = DemodMode::am;
    c.stereoEnabled = true;  // AM ignores it: the mono path runs
    c.tune(118.3, true);
    c.start();
    rx.run(1.5);
    EXPECT_FALSE(c.stereoDetected);
    const AudioTee::Capture am = rx.captureAudio(1.0);
    const double tone = tonePower(am.left, kDemoAMToneHz, kAudioRate);
    EXPECT_GT(powerRatioDB(tone, meanSquare(am.left) - tone), 10.0) << "the 1 kHz programme dominates";

    // Changes reach the speaker after the output's prebuffer (0.4 s) has played out.
    c.audioBalance = 1.0;
    rx.run(1.0);
    const AudioTee::Capture right = rx.captureAudio(0.5);
    EXPECT_LT(meanSquare(right.left), 1e-12);
    EXPECT_GT(meanSquare(right.right), 1e-6);
    c.audioBalance = 0.0;

    c.squelchEnabled = true;
    c.squelchThresholdDB = c.channelLevelDB + 1.0;
    rx.run(1.0);
    const AudioTee::Capture closed = rx.captureAudio(0.5);
    EXPECT_LT(meanSquare(closed.left) + meanSquare(closed.right), 1e-12) << "squelch holds the audio";
    c.squelchThresholdDB = c.channelLevelDB - 20.0;
    rx.run(1.0);
    EXPECT_GT(meanSquare(rx.captureAudio(0.5).left), 1e-6) << "squelch opens above the threshold";
}

TEST(ReceiverE2ETest, RecordingsHaveTheirHeadersAndContent) {
    SimulatedReceiver rx;
    SDRController& c = *rx.controller;
    c.startRecording();
    EXPECT_FALSE(c.isRecording) << "nothing to record while stopped";
    c.start();
    rx.run(0.5);

    c.startRecording();
    ASSERT_TRUE(c.isRecording);
    rx.run(1.0);
    c.stopRecording();
    ASSERT_TRUE(c.lastRecordingURL);
    const std::filesystem::path wav = *c.lastRecordingURL;
    EXPECT_EQ(wav.parent_path().filename(), "Vantirel Recordings");
    EXPECT_EQ(wav.extension(), ".wav");
    std::ifstream in(wav, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 44u + 51'200u);  // about a second of 16-bit mono
    const auto u32 = [&](std::size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    };
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(u32(4), bytes.size() - 8);
    EXPECT_EQ(u32(40), bytes.size() - 44);
    EXPECT_EQ(u32(24), 51'200u);
    EXPECT_EQ(bytes[22], 1) << "mono programme, one channel";

    c.recordingMode = "iq";
    rx.run(1.1);  // a new name: the file names carry the second
    c.startRecording();
    rx.run(0.5);
    c.stopRecording();
    const std::filesystem::path iq = *c.lastRecordingURL;
    EXPECT_EQ(iq.extension(), ".cf32");
    const auto size = std::filesystem::file_size(iq);
    EXPECT_EQ(size % 8, 0u);
    EXPECT_GT(size, 8u * 500'000u);
    std::filesystem::path meta = iq;
    meta.replace_extension(".sigmf-meta");
    std::ifstream metaIn(meta);
    const nlohmann::json sidecar = nlohmann::json::parse(metaIn);
    EXPECT_EQ(sidecar["global"]["core:datatype"], "cf32_le");
    EXPECT_EQ(sidecar["captures"][0]["core:frequency"].get<double>(), 92'140'000.0);
}

TEST(ReceiverE2ETest, ScanFindsTheStationsOfASpanNamedByTheirPS) {
    // Real time: the scan thread decodes RDS itself and must keep up with an unbroken stream.
    SimulatedReceiver rx(1.0);
    SDRController& c = *rx.controller;
    c.start();
    BandDefinition band = BandDefinition::fmBand();
    band.startMHz = 91.0;
    band.endMHz = 93.6;
    c.startScan(band);
    EXPECT_TRUE(c.isScanning);
    EXPECT_EQ(c.scanBandName, "FM Broadcast");
    ASSERT_TRUE(rx.waitFor([&] { return !c.isScanning; }, 40.0));
    std::vector<std::pair<double, std::string>> found;
    for (const FoundStation& s : c.foundStations) found.emplace_back(s.frequencyMHz, s.label);
    ASSERT_EQ(found.size(), 4u) << testing::PrintToString(found);
    const std::pair<double, const char*> expected[] = {{91.3, "JADRAN"}, {92.1, "VANTIREL"}, {92.9, "OTOK"}, {93.4, "RIVA"}};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(found[k].first, expected[k].first, 1e-6);
        EXPECT_EQ(found[k].second, expected[k].second);
    }
    EXPECT_DOUBLE_EQ(c.scanProgress, 1.0);
    EXPECT_DOUBLE_EQ(c.frequencyMHz, 92.1) << "back on the frequency it listened to";
}

TEST(ReceiverE2ETest, StoppedScanRestoresFrequencyGainAndVolume) {
    SimulatedReceiver rx(2.0);
    SDRController& c = *rx.controller;
    c.tune(98.5, true);
    c.start();
    c.startScan(BandDefinition::fmBand());
    rx.run(0.5);
    EXPECT_FALSE(rx.dongle->isManualGainMode() == false) << "the scan measures at a fixed gain";
    c.stopScan();
    ASSERT_TRUE(rx.waitFor([&] { return !c.isScanning; }, 6.0));
    EXPECT_DOUBLE_EQ(c.frequencyMHz, 98.5);
    EXPECT_FALSE(rx.dongle->isManualGainMode()) << "AGC is back";
    EXPECT_NEAR(rx.dongle->centerFrequencyHz(), 98'540'000.0, 1.0);
    rx.run(0.5);
    const AudioTee::Capture after = rx.captureAudio(0.5);
    EXPECT_GT(meanSquare(after.left), 1e-6) << "audio is unmuted";
}

TEST(ReceiverE2ETest, TracksAircraftAndDecodesAPRS) {
    SimulatedReceiver rx(2.0);
    SDRController& c = *rx.controller;
    c.start();
    c.setADSBEnabled(true);
    EXPECT_EQ(c.statusText, "ADS-B 1090 MHz");
    const std::size_t flights = ADSBAircraftEmitter::demoConfig(kDemoLatitudeDeg, kDemoLongitudeDeg).flights.size();
    const auto complete = [](const ADSBAircraft& a) {
        return a.callsign && a.altitude && a.groundSpeed && a.heading && a.latitude && a.longitude &&
               !a.trail.empty();
    };
    // Identification comes every 5 s, positions in even/odd pairs twice a second.
    ASSERT_TRUE(rx.waitFor(
        [&] {
            return static_cast<std::size_t>(std::count_if(c.adsbAircraft.begin(), c.adsbAircraft.end(),
                                                          complete)) == flights;
        },
        20.0))
        << c.adsbAircraft.size() << " aircraft, " << c.adsbDebugInfo;
    for (const ADSBAircraft& a : c.adsbAircraft) {
        EXPECT_NEAR(*a.latitude, kDemoLatitudeDeg, 3.0);
        EXPECT_NEAR(*a.longitude, kDemoLongitudeDeg, 4.0);
        EXPECT_GE(*a.heading, 0.0);
        EXPECT_LT(*a.heading, 360.0);
    }
    EXPECT_NE(c.adsbDebugInfo.find("Validni: "), std::string::npos);

    c.setADSBEnabled(false);
    EXPECT_DOUBLE_EQ(c.frequencyMHz, 92.1);
    EXPECT_EQ(c.mode.get(), DemodMode::fm);
    EXPECT_EQ(c.statusText, "Sluša 92.1000 MHz");
    c.tune(144.8, true);
    c.setIsNarrowbandFM(true);
    c.aprsEnabled = true;
    ASSERT_TRUE(rx.waitFor([&] { return c.aprsPackets.size() >= 3; }, 45.0));
    std::set<std::string> sources;
    for (const APRSPacket& p : c.aprsPackets) sources.insert(p.sourceCallsign);
    EXPECT_GE(sources.size(), 3u) << "several stations are heard";
    for (const APRSPacket& p : c.aprsPackets) {
        EXPECT_FALSE(p.sourceCallsign.empty());
        if (p.latitude) {
            EXPECT_NEAR(*p.latitude, kDemoLatitudeDeg, 1.0);
        }
    }
}
