#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include <nlohmann/json.hpp>

#include "control/SDRController.h"
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

TEST_F(StationsFixture, ImportMergesIntoTheListAndCountsDuplicatesAndBadRows) {
    auto c = makeController();
    c->stations = {{.name = "Narodni", .frequencyMHz = 95.3}, {.name = "Antena", .frequencyMHz = 89.7}};
    const std::filesystem::path in = docs / "bookmarks.csv";
    std::ofstream(in) << "# Frequency ; Name ; Modulation ; Bandwidth; Tags\n"
                         " 95300400; Narodni ; WFM (stereo); 160000; Untagged\n"  // 0.4 kHz off: same
                         " 95300000; Narodni 2 ; WFM (stereo); 160000; Untagged\n"
                         " 89702000; Antena ; WFM (stereo); 160000; Untagged\n"  // 2 kHz off: new
                         " 98500000; Enter ; WFM (stereo); 160000; Favorites\n"
                         " 98500000; Enter ; WFM (stereo); 160000; Favorites\n"  // repeats the row above
                         " xx; Broken ; AM; 1; Untagged\n";
    const BookmarkTransferReport report = c->importStations(in);
    EXPECT_TRUE(report.isSuccess);
    EXPECT_EQ(report.text, "Imported 3 of 6 stations (2 duplicates, 1 unreadable)");
    EXPECT_EQ(c->stationsTransferReport, report.text);
    ASSERT_EQ(c->stations.size(), 5u);
    EXPECT_EQ(c->stations[0].name, "Narodni") << "the old list comes first, untouched";
    EXPECT_EQ(c->stations[4].name, "Enter");
    EXPECT_TRUE(c->stations[4].isFavorite);

    auto again = makeController();
    EXPECT_EQ(again->stations, c->stations) << "the merged list was saved";

    EXPECT_EQ(again->importStations(in).text, "Imported 0 of 6 stations (5 duplicates, 1 unreadable)");
}

TEST_F(StationsFixture, ExportWritesAFileThatImportsBackAndReportsFailures) {
    auto c = makeController();
    c->stations = {{.name = "Radio 101; Zagreb", .frequencyMHz = 101.0, .isFavorite = true},
                   {.name = "Tower", .frequencyMHz = 118.1}};
    for (const BookmarkFormat format : {BookmarkFormat::gqrx, BookmarkFormat::csv}) {
        const std::filesystem::path out = docs / "out" / "list.csv";
        const BookmarkTransferReport written = c->exportStations(out, format);
        EXPECT_TRUE(written.isSuccess) << written.text;
        EXPECT_EQ(written.text, "Exported 2 stations to " + out.string());
        auto other = makeController();
        other->stations.clear();
        EXPECT_EQ(other->importStations(out).text, "Imported 2 of 2 stations (0 duplicates, 0 unreadable)");
        ASSERT_EQ(other->stations.size(), 2u);
        EXPECT_EQ(other->stations[0].name, "Radio 101; Zagreb");
        EXPECT_TRUE(other->stations[0].isFavorite);
        std::filesystem::remove(file());
    }
    size_t leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(docs / "out"))
        leftovers += entry.path().filename() != "list.csv";
    EXPECT_EQ(leftovers, 0u) << "no temporary file stays behind";

    const std::size_t before = c->stations.size();
    const BookmarkTransferReport missing = c->importStations(docs / "nope.csv");
    EXPECT_FALSE(missing.isSuccess);
    EXPECT_NE(missing.text.find("no such file"), std::string::npos);
    std::ofstream(docs / "foreign.txt") << "just some words\n";
    EXPECT_FALSE(c->importStations(docs / "foreign.txt").isSuccess);
    EXPECT_FALSE(c->exportStations(docs, BookmarkFormat::csv).isSuccess) << "a folder is not a file";
    EXPECT_EQ(c->stations.size(), before);

    std::ofstream(docs / "empty.csv").flush();
    const BookmarkTransferReport empty = c->importStations(docs / "empty.csv");
    EXPECT_TRUE(empty.isSuccess);
    EXPECT_EQ(empty.text, "Imported 0 of 0 stations (0 duplicates, 0 unreadable)");
}
