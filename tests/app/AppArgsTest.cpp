#include "AppArgs.h"

#include <gtest/gtest.h>

TEST(AppArgsTest, ReadsEveryFlag) {
    const AppArgs args = parseAppArgs({"--source", "sim", "--speed", "2", "--no-audio", "--documents", "/tmp/d",
                                       "--no-autostart", "--section", "Scanner", "--adsb", "--advanced", "--popover",
                                       "audio", "--span", "1.536", "--tile-url", "none", "--size", "1600x1000",
                                       "--state-file", "/tmp/s.json", "--screenshot", "/tmp/a.png", "--after", "1.5"});
    EXPECT_EQ(args.source.choice, "sim");
    EXPECT_DOUBLE_EQ(args.source.speed, 2.0);
    EXPECT_FALSE(args.source.audio);
    EXPECT_EQ(args.documents, std::filesystem::path("/tmp/d"));
    EXPECT_FALSE(args.autoStart);
    EXPECT_EQ(args.section, SidebarSection::scanner);
    EXPECT_TRUE(args.adsb);
    EXPECT_TRUE(args.advanced);
    EXPECT_EQ(args.popover, "audio");
    EXPECT_EQ(args.spanMHz, 1.536);
    EXPECT_EQ(args.tileURL, "none");
    EXPECT_EQ(args.width, 1600);
    EXPECT_EQ(args.height, 1000);
    EXPECT_EQ(args.stateFile, std::filesystem::path("/tmp/s.json"));
    EXPECT_EQ(args.screenshot, std::filesystem::path("/tmp/a.png"));
    EXPECT_DOUBLE_EQ(args.screenshotAfterSeconds, 1.5);

    const AppArgs defaults = parseAppArgs({});
    EXPECT_EQ(defaults.source.choice, "auto");  // scripts/run.sh opens the dongle or the demo
    EXPECT_TRUE(defaults.autoStart);
    EXPECT_TRUE(defaults.source.audio);
    EXPECT_FALSE(defaults.stateFile.has_value());
}

TEST(AppArgsTest, RecordingOptionsReachTheSource) {
    const AppArgs args = parseAppArgs({"--source", "/tmp/modes1.bin", "--rate", "2000000", "--center-mhz", "1090"});
    EXPECT_EQ(args.source.choice, "/tmp/modes1.bin");
    EXPECT_EQ(args.source.recordingSampleRateHz, 2'000'000.0);
    EXPECT_EQ(args.source.recordingCenterMHz, 1090.0);
    const AppArgs defaults = parseAppArgs({});
    EXPECT_FALSE(defaults.source.recordingSampleRateHz.has_value());  // the sidecar decides
}

TEST(AppArgsTest, RejectsWhatItDoesNotKnow) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},           {"--source"},           {"--speed", "fast"},   {"--speed", "0"},
        {"--section", "radio"}, {"--popover", "map"},  {"--size", "100x100"}, {"--size", "wide"},
        {"--after", "2s"},      {"--rate", "2M"},       {"--rate"},
    };
    for (const std::vector<std::string>& words : bad) {
        SCOPED_TRACE(words.front() + (words.size() > 1 ? " " + words[1] : ""));
        EXPECT_THROW(parseAppArgs(words), std::invalid_argument);
    }
}

TEST(AppArgsTest, TileServerComesFromTheFlagThenTheEnvironment) {
    EXPECT_EQ(tileTemplateFor(std::nullopt, nullptr), "https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    EXPECT_EQ(tileTemplateFor(std::nullopt, "http://127.0.0.1:9/{z}/{x}/{y}.png"), "http://127.0.0.1:9/{z}/{x}/{y}.png");
    EXPECT_EQ(tileTemplateFor(std::string("http://a/{z}/{x}/{y}"), "http://b/{z}"), "http://a/{z}/{x}/{y}");
    EXPECT_EQ(tileTemplateFor(std::string("none"), nullptr), "");
    EXPECT_EQ(tileTemplateFor(std::nullopt, "off"), "");
    EXPECT_EQ(tileTemplateFor(std::nullopt, ""), "");
}

TEST(AppArgsTest, DABSectionAndChannel) {
    const AppArgs args = parseAppArgs({"--section", "dab", "--dab-channel", "12C"});
    // The DAB part lives in the Radio panel.
    EXPECT_EQ(args.section, SidebarSection::radio);
    EXPECT_TRUE(args.revealDAB);
    EXPECT_EQ(args.dabChannel, "12C");
    EXPECT_FALSE(parseAppArgs({"--section", "Radio"}).revealDAB);
    EXPECT_THROW(parseAppArgs({"--dab-channel", "14A"}), std::invalid_argument);
    EXPECT_THROW(parseAppArgs({"--dab-channel", "12c"}), std::invalid_argument);
    EXPECT_THROW(parseAppArgs({"--dab-channel"}), std::invalid_argument);
}
