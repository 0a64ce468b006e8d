// Import… and Export… in the Stations section, driven through their path popups.
#include <gtest/gtest.h>

#include "WindowTestSupport.h"

using namespace windowtest;

TEST(WindowBookmarksE2ETest, ImportAndExportThroughThePathPopups) {
    const auto documents = scratchFolder("bookmarks");
    writeBookmarks(documents);
    const auto gqrxFile = documents / "gqrx bookmarks.csv";
    std::ofstream(gqrxFile)
        << "# Tag name          ;  color\n"
           "Untagged            ; #c0c0c0\n"
           "\n"
           "# Frequency ;  Name                     ; Modulation          ;  Bandwidth; Tags\n"
           "    92100000; VANTIREL                 ; WFM (stereo)        ;     160000; Untagged\n"
           "    99300000; Otvoreni                 ; WFM (stereo)        ;     160000; Favorites\n";
    const auto statePath = documents / "state.json";
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";
    ChildProcess window(
        {vantirelBinary().string(), "--source", "sim", "--no-audio", "--no-autostart",
         "--documents", documents.string(), "--tile-url", "none", "--state-file",
         statePath.string(), "--section", "Stations"},
        {"DISPLAY=" + screen.name(), "XDG_CACHE_HOME=" + (documents / "cache").string()});
    ASSERT_TRUE(window.started());
    Session session(screen, statePath);
    ASSERT_TRUE(session.waitFor(
        [](const nlohmann::json& j) { return j["controller"]["stations"].size() == 3; }));
    ASSERT_TRUE(session.findWindow());

    ASSERT_TRUE(session.click("importStations"));
    ASSERT_TRUE(session.click("bookmarkPathField"));
    ASSERT_TRUE(session.type(gqrxFile.string()));
    ASSERT_TRUE(session.click("importStationsConfirm"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["controller"]["stationsTransferReport"] ==
               "Imported 1 of 2 stations (1 duplicates, 0 unreadable)";
    })) << session.current()["controller"]["stationsTransferReport"];
    EXPECT_EQ(session.current()["controller"]["stations"].size(), 4u);

    // The path typed for the import is offered again; the export goes next to it as CSV.
    const auto csvFile = documents / "gqrx bookmarks.csv.out";
    ASSERT_TRUE(session.click("exportStations"));
    ASSERT_TRUE(session.click("bookmarkPathField"));
    ASSERT_TRUE(session.key("End"));
    ASSERT_TRUE(session.type(".out"));
    ASSERT_TRUE(session.click("exportFormatCSV"));
    ASSERT_TRUE(session.click("exportStationsConfirm"));
    EXPECT_TRUE(session.waitFor([&](const nlohmann::json& j) {
        return j["controller"]["stationsTransferReport"] ==
               "Exported 4 stations to " + csvFile.string();
    })) << session.current()["controller"]["stationsTransferReport"];
    session.screenshot(artefactFolder() / "stations-exported.png");
    std::ifstream in(csvFile);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header, "name,frequency_mhz,favorite\r");
    std::filesystem::remove_all(documents);
}
