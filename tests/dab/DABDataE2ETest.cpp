// What DAB services send beside audio, on the simulated dongle: the station logo from the
// data service's MOT carousel, the dynamic label with DL Plus and the slideshow in X-PAD.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "DABShownText.h"
#include "platform/DebugLog.h"
#include "sim/DemoDABMedia.h"
#include "sim/DemoScene.h"
#include "support/SimulatedReceiver.h"

namespace {

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const DemoDABEnsemble& demoEnsemble(const std::string& channel) {
    static const std::vector<DemoDABEnsemble> all = demoDABEnsembles();
    return *std::find_if(all.begin(), all.end(), [&](const DemoDABEnsemble& e) { return e.channel == channel; });
}

void streamOn(SDRController& c, const std::string& label) {
    const auto& band = DABChannel::bandIII();
    const auto ch = std::find_if(band.begin(), band.end(), [&](const DABChannel& x) { return x.label == label; });
    c.selectDABChannel(DABScanResult{.channel = *ch, .snrEstimate = 20.0f});
}

TEST(DABDataE2E, LogoLabelAndSlidesArriveAsSent) {
    SimulatedReceiver rx(2.0);
    SDRController& c = *rx.controller;
    c.start();
    ASSERT_TRUE(c.isRunning);
    streamOn(c, "12C");
    const DemoDABEnsemble& e12 = demoEnsemble("12C");
    const DemoDABPAD pad = *demoDABProgramme(0x2C11)->pad;

    // The logo, byte for byte, in a file named after its data service.
    ASSERT_TRUE(rx.waitFor([&] { return c.dabLogoPaths.contains(e12.logoServiceId); }, 10.0)) << c.dabFICStatus;
    EXPECT_EQ(c.dabLogoPaths.at(e12.logoServiceId).filename(), formatString("%08X.png", e12.logoServiceId));
    EXPECT_EQ(fileBytes(c.dabLogoPaths.at(e12.logoServiceId)), e12.logoPNG);
    EXPECT_EQ(c.dabLogoPaths.at(0x2C11), c.dabLogoPaths.at(e12.logoServiceId));  // the station's logo

    // A label as sent, with its DL Plus artist and title, then the next one.
    const auto sentLabel = [&](const std::optional<std::string>& text) -> const DemoDABLabel* {
        if (!text) return nullptr;
        const auto it = std::find_if(pad.labels.begin(), pad.labels.end(), [&](const DemoDABLabel& l) { return shownDABText(l.text) == *text; });
        return it == pad.labels.end() ? nullptr : &*it;
    };
    ASSERT_TRUE(rx.waitFor([&] { return c.dabDynamicLabel.has_value(); }, 12.0));
    const DemoDABLabel* first = sentLabel(c.dabDynamicLabel);
    ASSERT_NE(first, nullptr) << "'" << *c.dabDynamicLabel << "' vs '" << pad.labels.front().text << "'";
    EXPECT_EQ(c.dabDLPlusArtist, shownDABText(first->artist));
    EXPECT_EQ(c.dabDLPlusTitle, shownDABText(first->title));

    // Slides as sent, byte for byte, kept on disk; and the label moves on with the carousel.
    ASSERT_TRUE(rx.waitFor([&] { return c.dabSlideshowCount > 0; }, 12.0));
    ASSERT_TRUE(c.dabSlideshowPath.has_value());
    const std::vector<std::uint8_t> slide = fileBytes(*c.dabSlideshowPath);
    EXPECT_TRUE(std::any_of(pad.slides.begin(), pad.slides.end(), [&](const DemoDABSlide& s) { return s.bytes == slide; }))
        << slide.size() << " bytes";
    ASSERT_TRUE(rx.waitFor([&] { return c.dabDynamicLabel && sentLabel(c.dabDynamicLabel) != first; },
                           std::chrono::duration<double>(pad.window).count() + 2.0));
    ASSERT_NE(sentLabel(c.dabDynamicLabel), nullptr) << *c.dabDynamicLabel;
}

TEST(DABDataE2E, AnotherEnsemblesLogoGoesToItsOwnFile) {
    SimulatedReceiver rx(2.0);
    SDRController& c = *rx.controller;
    c.start();
    streamOn(c, "5C");
    const DemoDABEnsemble& e5 = demoEnsemble("5C");
    ASSERT_NE(e5.logoServiceId, demoEnsemble("12C").logoServiceId);
    ASSERT_TRUE(rx.waitFor([&] { return c.dabLogoPaths.contains(e5.logoServiceId); }, 10.0)) << c.dabFICStatus;
    EXPECT_EQ(fileBytes(c.dabLogoPaths.at(e5.logoServiceId)), e5.logoPNG);
    EXPECT_NE(e5.logoPNG, demoEnsemble("12C").logoPNG);
}

}  // namespace
