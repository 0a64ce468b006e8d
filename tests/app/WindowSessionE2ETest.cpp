// A scripted session: xdotool drives the real window on the simulated dongle, and after each
// step the state file must show the controller where the step put it.
#include <gtest/gtest.h>

#include "WindowTestSupport.h"

using namespace windowtest;

namespace {

double frequency(const nlohmann::json& j) {
    return j["controller"]["frequencyMHz"].get<double>();
}

}  // namespace

TEST(WindowSessionE2ETest, XdotoolDrivesTheReceiver) {
    const auto documents = scratchFolder("session");
    writeBookmarks(documents);
    const auto statePath = documents / "state.json";
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";
    ChildProcess window({vantirelBinary().string(), "--source", "sim", "--no-audio", "--no-autostart", "--documents",
                         documents.string(), "--tile-url", "none", "--state-file", statePath.string()},
                        {"DISPLAY=" + screen.name(), "XDG_CACHE_HOME=" + (documents / "cache").string()});
    ASSERT_TRUE(window.started());
    Session session(screen, statePath);
    ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["isRunning"] == false; }));
    ASSERT_TRUE(session.findWindow());

    // 1. Start the receiver.
    ASSERT_TRUE(session.click("startStop"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["controller"]["isRunning"] == true && j["controller"]["statusText"] == "Sluša 92.1000 MHz";
    })) << session.current()["controller"].dump();

    // 2. "+100" on the tuner: 100 kHz up, the field follows.
    ASSERT_TRUE(session.click("step +100"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return std::abs(frequency(j) - 92.2) < 1e-6 && j["view"]["frequencyText"] == "92.20";
    })) << frequency(session.current());

    // The knob's wheel: one step up is 100 kHz.
    ASSERT_TRUE(session.scrollUp("tuningKnob"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return std::abs(frequency(j) - 92.3) < 1e-6; }))
        << frequency(session.current());
    // Dragging the knob up 48 pixels: 48 × 0.25 × 10 kHz = 120 kHz.
    ASSERT_TRUE(session.drag("tuningKnob", 1, 0, -48));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return std::abs(frequency(j) - 92.42) < 0.001; }))
        << frequency(session.current());
    // A tap at the right edge of the spectrum tunes half the span (1.024 MHz) up.
    ASSERT_TRUE(session.clickAt("spectrum", 0.999));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return std::abs(frequency(j) - (92.42 + 1.024)) < 0.01; }))
        << frequency(session.current());

    // 3. Select a saved station in the Stations section.
    ASSERT_TRUE(session.click("section Stations"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["sidebarSection"] == "Stations"; }));
    ASSERT_TRUE(session.click("station RIVA"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return std::abs(frequency(j) - 93.4) < 1e-6 && j["controller"]["selectedStationID"] == kRivaID;
    })) << session.current()["controller"]["selectedStationID"];

    // 4. Stereo, from the audio popover.
    ASSERT_TRUE(session.click("audioButton"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["showAudioPanel"] == true; }));
    ASSERT_TRUE(session.click("audioStereo"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["stereoEnabled"] == true; }));
    // RIVA broadcasts in stereo: the pilot is found and the tuner shows "STEREO".
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["controller"]["stereoDetected"] == true; }));
    ASSERT_TRUE(session.key("Escape"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["showAudioPanel"] == false; }));

    // 5. ADS-B on: 1090 MHz and the map in the centre; off again: back on the station.
    ASSERT_TRUE(session.click("section Decoders"));
    ASSERT_TRUE(session.click("adsbSwitch"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["controller"]["adsbEnabled"] == true && frequency(j) == 1090.0 && j["view"]["centreView"] == "adsb";
    }));
    // The map: the wheel zooms, a drag pans, a right-drag turns it.
    const nlohmann::json before = session.current()["view"]["map"];
    ASSERT_TRUE(session.scrollUp("map"));
    EXPECT_TRUE(session.waitFor([&](const nlohmann::json& j) {
        return std::abs(j["view"]["map"]["zoom"].get<double>() - (before["zoom"].get<double>() + 0.5)) < 1e-9;
    }));
    ASSERT_TRUE(session.drag("map", 1, 120, 0));
    EXPECT_TRUE(session.waitFor([&](const nlohmann::json& j) {
        // Dragged east, so the centre moves west.
        return j["view"]["map"]["centerLongitudeDeg"].get<double>() < before["centerLongitudeDeg"].get<double>() - 0.05;
    }));
    ASSERT_TRUE(session.drag("map", 3, 100, 0));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["map"]["rotationDeg"].get<double>() > 10.0; }));

    // The aircraft.json feed, ticked at the foot of the view: the documents folder gets the sky
    // the window shows, until it is unticked.
    ASSERT_TRUE(session.click("adsbFeedJSON"));
    const auto aircraftFile = documents / "Vantirel Aircraft" / "aircraft.json";
    EXPECT_TRUE(session.waitFor([&](const nlohmann::json& j) {
        return j["view"]["adsbFeeds"] == "JSON " + aircraftFile.parent_path().string();
    })) << session.current()["view"]["adsbFeeds"];
    EXPECT_TRUE(eventually([&] {
        const auto sky = readState(aircraftFile);
        return sky && !(*sky)["aircraft"].empty() && (*sky)["aircraft"][0].contains("hex");
    })) << aircraftFile;
    ASSERT_TRUE(session.click("adsbFeedJSON"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) { return j["view"]["adsbFeeds"] == "Feeds off"; }));

    ASSERT_TRUE(session.click("adsbSwitch"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["controller"]["adsbEnabled"] == false && std::abs(frequency(j) - 93.4) < 1e-6 &&
               j["view"]["centreView"] == "analog";
    })) << frequency(session.current());
    // The receiver ran throughout and stereo is still wanted.
    const nlohmann::json last = session.current();
    EXPECT_EQ(last["controller"]["isRunning"], true);
    EXPECT_EQ(last["controller"]["stereoEnabled"], true);
    window.stop();
    std::filesystem::remove_all(documents);
}
