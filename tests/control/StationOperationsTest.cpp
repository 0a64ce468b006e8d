#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include <nlohmann/json.hpp>

#include "control/BandScanMath.h"
#include "control/SDRController.h"
#include "control/SpectrumMath.h"
#include "stations/BookmarkStore.h"

namespace {

struct StationsFixture : ::testing::Test {
    std::filesystem::path docs;
    std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();

    void SetUp() override {
        std::random_device rd;
        docs = std::filesystem::temp_directory_path() / ("vantirel-stations-" + std::to_string(rd()));
        std::filesystem::create_directories(docs);
    }
    void TearDown() override { std::filesystem::remove_all(docs); }

    std::shared_ptr<SDRController> makeController() {
        ControllerDeps deps;
        deps.mainQueue = queue;
        deps.documentsDir = docs;
        return SDRController::create(std::move(deps));
    }
    std::filesystem::path file() const { return docs / "OrvelleBookmarks.json"; }
    void writeFile(const std::string& text) const { std::ofstream(file()) << text; }
};

}  // namespace

TEST_F(StationsFixture, BookmarksSurviveARestartInTheirFileFormat) {
    {
        auto c = makeController();
        EXPECT_TRUE(c->stations.empty());
        EXPECT_FALSE(c->selectedStationID);
        c->tune(99.5, false);
        c->addCustomBookmark("   ");
        c->addCustomBookmark("  Jazz  ");
        ASSERT_EQ(c->stations.size(), 2u);
        EXPECT_EQ(c->stations[0].name, "99.5000 MHz");
        EXPECT_EQ(c->stations[1].name, "Jazz");
    }
    std::ifstream in(file());
    const nlohmann::json list = nlohmann::json::parse(in);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].size(), 4u);
    const std::string id = list[0]["id"];
    EXPECT_EQ(id, UUID::parse(id)->text()) << "upper-case canonical UUID text";
    EXPECT_EQ(list[1]["frequencyMHz"], 99.5);
    EXPECT_EQ(list[1]["isFavorite"], false);

    auto again = makeController();
    ASSERT_EQ(again->stations.size(), 2u);
    EXPECT_EQ(again->selectedStationID, again->stations[0].id);
    EXPECT_DOUBLE_EQ(again->frequencyMHz, 92.1) << "loading does not tune";
}

TEST_F(StationsFixture, UnreadableFilesLoadEmptyAndAreKeptAside) {
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"not json", "{broken"},
        {"missing key", R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"A","frequencyMHz":88.1}])"},
        {"wrong type", R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"A","frequencyMHz":"88.1","isFavorite":false}])"},
        {"bad id", R"([{"id":"nope","name":"A","frequencyMHz":88.1,"isFavorite":false}])"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& entry : std::filesystem::directory_iterator(docs)) std::filesystem::remove(entry);
        writeFile(c.text);
        auto controller = makeController();
        EXPECT_TRUE(controller->stations.empty());
        controller->addCustomBookmark("New");
        int kept = 0;
        for (const auto& entry : std::filesystem::directory_iterator(docs)) {
            if (entry.path().filename().string().rfind("OrvelleBookmarks.json.unreadable-", 0) == 0) {
                std::ifstream old(entry.path());
                EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), c.text);
                ++kept;
            }
        }
        EXPECT_EQ(kept, 1) << "the user's old file is never overwritten";
        EXPECT_EQ(BookmarkStore(docs).load().size(), 1u);
    }
}

TEST_F(StationsFixture, FavouritesMatchByFrequencyWithinOneKilohertz) {
    auto c = makeController();
    c->tune(100.0, false);
    c->addCustomBookmark("First");
    c->addCustomBookmark("Second");
    c->tune(100.0005, false);
    EXPECT_FALSE(c->isCurrentFrequencyFavorite());
    c->toggleFavoriteCurrent();
    EXPECT_TRUE(c->stations[0].isFavorite);
    EXPECT_FALSE(c->stations[1].isFavorite) << "only the first match changes";
    EXPECT_TRUE(c->isCurrentFrequencyFavorite());

    c->tune(101.7, false);
    c->rdsStationName = "ZAGORA";
    c->toggleFavoriteCurrent();
    ASSERT_EQ(c->stations.size(), 3u);
    EXPECT_EQ(c->stations[2].name, "ZAGORA");
    EXPECT_TRUE(c->stations[2].isFavorite);
    c->toggleFavoriteCurrent();
    EXPECT_EQ(c->stations.size(), 3u);
    EXPECT_FALSE(c->stations[2].isFavorite) << "a second toggle keeps the station";

    const RadioStation stranger{.name = "Not saved", .frequencyMHz = 90.0};
    c->toggleFavorite(stranger);
    c->removeCustomBookmark(stranger);
    EXPECT_EQ(c->stations.size(), 3u);
    c->removeCustomBookmark(c->stations[0]);
    EXPECT_EQ(c->stations.size(), 2u);
    EXPECT_EQ(BookmarkStore(docs).load(), c->stations) << "every change is written";
}

TEST_F(StationsFixture, SavingScanResultsSkipsFrequenciesAlreadyKept) {
    auto c = makeController();
    const std::vector<FoundStation> found = {
        {.frequencyMHz = 88.1, .label = "FMBr1"},
        {.frequencyMHz = 88.1004, .label = "FMBr2"},
        {.frequencyMHz = 95.7, .label = "SJEVER"},
    };
    c->saveAllFoundStations(found);
    ASSERT_EQ(c->stations.size(), 2u);
    EXPECT_EQ(c->stations[0].name, "FMBr1");
    EXPECT_EQ(c->stations[1].name, "SJEVER");
    EXPECT_FALSE(c->isFoundStationFavorite(found[2]));
    c->toggleFavorite(found[2]);
    EXPECT_TRUE(c->isFoundStationFavorite(found[2]));
    c->toggleFavorite(FoundStation{.frequencyMHz = 104.6, .label = "ZAGORA"});
    EXPECT_EQ(c->stations.back().name, "ZAGORA");
    EXPECT_TRUE(c->stations.back().isFavorite);

    c->foundStations = found;
    c->tune(95.7, false);
    c->updateFoundStationLabelIfMatching("  SJEVER2 ");
    EXPECT_EQ(c->foundStations[2].label, "SJEVER2");
    c->updateFoundStationLabelIfMatching("   ");
    EXPECT_EQ(c->foundStations[2].label, "SJEVER2");
}

TEST(BandScanMathTest, BandsStepsAndNoiseEstimate) {
    const auto& bands = BandDefinition::allBands();
    ASSERT_EQ(bands.size(), 12u);
    EXPECT_EQ(bands.front().name, "LW");
    EXPECT_EQ(bands.back().name, "PMR446");
    EXPECT_EQ(&BandDefinition::fmBand(), &bands[4]);

    EXPECT_EQ(scanStepCount(BandDefinition::fmBand()), 206);
    EXPECT_EQ(scanStepCount({.name = "x", .startMHz = 91.0, .endMHz = 93.6, .stepHz = 100'000}), 27);
    EXPECT_EQ(scanStepCount({.name = "tiny", .startMHz = 100.0, .endMHz = 100.01, .stepHz = 100'000}), 1);

    EXPECT_FLOAT_EQ(scanNoiseEstimate({-50, -60, -55}), -60.0f) << "fewer than five: the smallest";
    std::vector<float> twenty;
    for (int k = 0; k < 20; ++k) twenty.push_back(static_cast<float>(-k));
    EXPECT_FLOAT_EQ(scanNoiseEstimate(twenty), -15.0f) << "the fifth smallest of twenty";
}

TEST(SpectrumMathTest, DownsampleRunsAndLevels) {
    std::vector<float> ramp(1'024);
    for (std::size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<float>(k);
    const std::vector<float> bins = downsample(ramp, 96);
    ASSERT_EQ(bins.size(), 96u);
    EXPECT_FLOAT_EQ(bins[0], 4.5f);  // mean of 0..9 (run of 10: floor(10.67))
    EXPECT_FLOAT_EQ(bins[95], (1013.0f + 1023.0f) / 2.0f) << "the last run ends at the last value";
    const std::vector<float> short50(50, 1.0f);
    EXPECT_EQ(downsample(short50, 96), short50);

    const std::vector<float> power = {1e-12f, 1.0f, 100.0f, 0.01f};
    const SpectrumLevels levels = spectrumLevels(power);
    EXPECT_FLOAT_EQ(levels.dB[0], -100.0f) << "floored at 1e-10";
    EXPECT_FLOAT_EQ(levels.peakDB, 20.0f);
    EXPECT_FLOAT_EQ(levels.norm[2], 1.0f);
    EXPECT_FLOAT_EQ(levels.norm[0], 0.0f);
    EXPECT_FLOAT_EQ(levels.floorDB, -100.0f);

    std::vector<float> centred(1'024, -90.0f);
    centred[512 + 3] = -20.0f;   // 6 kHz off centre
    centred[512 + 60] = -10.0f;  // a neighbour 120 kHz away
    EXPECT_FLOAT_EQ(strongestInChannelDB(centred, 7'500.0, 2'048'000.0), -20.0f);
    EXPECT_FLOAT_EQ(strongestInChannelDB(centred, 5'000.0, 2'048'000.0), -90.0f);
    EXPECT_FLOAT_EQ(strongestInChannelDB(centred, 125'000.0, 2'048'000.0), -10.0f);
}
