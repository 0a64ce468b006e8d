#include <gtest/gtest.h>

#include "stations/BookmarkExchange.h"

namespace {

std::vector<RadioStation> awkwardStations() {
    return {
        {.name = "Radio Sljeme; Zagreb", .frequencyMHz = 92.1, .isFavorite = true},
        {.name = "Hit, FM", .frequencyMHz = 100.5, .isFavorite = false},
        {.name = "Say \"hi\" 'FM'", .frequencyMHz = 104.7, .isFavorite = false},
        {.name = "Čakovec ćup šuma žuta đak", .frequencyMHz = 88.3, .isFavorite = true},
        {.name = "Tower;;LDZA", .frequencyMHz = 118.3, .isFavorite = false},
        {.name = "Deutsche Welle", .frequencyMHz = 6.075, .isFavorite = false},
        {.name = "Repeater", .frequencyMHz = 145.6125, .isFavorite = true},
    };
}

// Ids are fresh on import; everything else must come back.
void expectSameStations(const std::vector<RadioStation>& got,
                        const std::vector<RadioStation>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        SCOPED_TRACE(want[k].name);
        EXPECT_EQ(got[k].name, want[k].name);
        EXPECT_DOUBLE_EQ(got[k].frequencyMHz, want[k].frequencyMHz);
        EXPECT_EQ(got[k].isFavorite, want[k].isFavorite);
    }
}

}  // namespace

TEST(BookmarkExchangeTest, BothFormatsRoundTripAwkwardNames) {
    for (const BookmarkFormat format : {BookmarkFormat::gqrx, BookmarkFormat::csv}) {
        SCOPED_TRACE(format == BookmarkFormat::gqrx ? "gqrx" : "csv");
        const BookmarkImport back = importBookmarks(exportBookmarks(awkwardStations(), format));
        EXPECT_EQ(back.format, format);
        EXPECT_TRUE(back.skipped.empty());
        expectSameStations(back.stations, awkwardStations());
    }
}

TEST(BookmarkExchangeTest, CSVKeepsLineBreaksAndQuotesInsideNames) {
    const std::vector<RadioStation> stations = {
        {.name = "Two\r\nlines, \"quoted\"", .frequencyMHz = 97.3, .isFavorite = true}};
    const std::string text = exportCSV(stations);
    EXPECT_EQ(text,
              "name,frequency_mhz,favorite\r\n\"Two\r\nlines, \"\"quoted\"\"\",97.3,true\r\n");
    expectSameStations(importBookmarks(text).stations, stations);
}

TEST(BookmarkExchangeTest, GqrxExportHasTheTagBlockColumnsAndChannelByBand) {
    const std::string text =
        exportGqrx({{.name = "Otvoreni", .frequencyMHz = 101.8, .isFavorite = true},
                    {.name = "Split Tower", .frequencyMHz = 118.5},
                    {.name = "Line\nbreak", .frequencyMHz = 433.5}});
    EXPECT_EQ(
        text,
        "# Tag name          ;  color\n"
        "Favorites           ; #ffc000\n"
        "Untagged            ; #c0c0c0\n"
        "\n"
        "# Frequency ;  Name                     ; Modulation          ;  Bandwidth; Tags\n"
        "   101800000; Otvoreni                 ; WFM (stereo)        ;     160000; Favorites\n"
        "   118500000; Split Tower              ; AM                  ;      10000; Untagged\n"
        "   433500000; Line break               ; Narrow FM           ;      12500; Untagged\n");

    // Band edges: broadcast FM is 87.5-108 MHz, airband above it to 137 MHz, AM below 30 MHz.
    struct Case {
        double mhz;
        std::string_view modulation;
    };
    const Case cases[] = {{87.5, "WFM (stereo)"}, {108.0, "WFM (stereo)"}, {108.1, "AM"},
                          {137.0, "AM"},          {137.1, "Narrow FM"},    {29.99, "AM"},
                          {30.0, "Narrow FM"},    {87.4, "Narrow FM"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mhz);
        EXPECT_EQ(gqrxChannelFor(c.mhz).modulation, c.modulation);
    }
}

TEST(BookmarkExchangeTest, ReadsAHandWrittenGqrxFile) {
    // Laid out as gqrx writes bookmarks.csv, with the spacing a hand edit leaves: tabs, ragged
    // padding, CRLF on some lines, a colour-only tag row and tags in any case.
    const std::string text =
        "# Tag name          ;  color\n"
        "Untagged            ; #c0c0c0\n"
        "favorites ; #ffff00\r\n"
        "rus                 ; #ffffff\n"
        "\n"
        "# Frequency ;  Name                     ; Modulation          ;  Bandwidth; Tags\n"
        "     4625000; UVB-76                   ; USB                 ;       2700; rus\n"
        "  96100000;Radio Dalmacija;WFM (stereo);160000;Untagged,FAVORITES\r\n"
        "\t 145500000 ;\tCalling  ; Narrow FM ; 10000 ;  \n"
        "   7020930; morse ; CW-U ; 500\n";
    const BookmarkImport got = importBookmarks(text);
    EXPECT_EQ(got.format, BookmarkFormat::gqrx);
    EXPECT_TRUE(got.skipped.empty());
    expectSameStations(got.stations,
                       {{.name = "UVB-76", .frequencyMHz = 4.625},
                        {.name = "Radio Dalmacija", .frequencyMHz = 96.1, .isFavorite = true},
                        {.name = "Calling", .frequencyMHz = 145.5},
                        {.name = "morse", .frequencyMHz = 7.02093}});
}

TEST(BookmarkExchangeTest, BadRowsAreCountedWithReasonsAndTheRestIsRead) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<BookmarkSkippedRow> skipped;
        std::size_t taken;
    };
    const std::string gqrxHead = "# Frequency ; Name ; Modulation ; Bandwidth; Tags\n";
    const std::string csvHead = "name,frequency_mhz,favorite\n";
    const Case cases[] = {
        {"gqrx",
         gqrxHead + "abc; A; AM; 10000; Untagged\n"   // line 2
                    "-5; B; AM; 10000; Untagged\n"    // 3
                    "1e30; C; AM; 10000; Untagged\n"  // 4
                    "100000000;   ; AM; 1; x\n"       // 5
                    "100000000; only two\n"           // 6
                    "100000000; Good; AM; 10000; Untagged\n",
         {{2, BookmarkSkipReason::badFrequency},
          {3, BookmarkSkipReason::badFrequency},
          {4, BookmarkSkipReason::badFrequency},
          {5, BookmarkSkipReason::emptyName},
          {6, BookmarkSkipReason::missingFields}},
         1},
        {"csv",
         csvHead + "A,ninety,false\n"  // 2
                   "B,nan,false\n"     // 3
                   ",92.1,true\n"      // 4
                   "C,92.1,maybe\n"    // 5
                   "D\n"               // 6
                   "Good,92.1\n"       // favourite column may be left out
                   "\"Open,99.1,true\nE,100.1,false\n",
         {{2, BookmarkSkipReason::badFrequency},
          {3, BookmarkSkipReason::badFrequency},
          {4, BookmarkSkipReason::emptyName},
          {5, BookmarkSkipReason::badFavorite},
          {6, BookmarkSkipReason::missingFields},
          {8, BookmarkSkipReason::badQuoting}},
         1},
        {"csv with the columns in another order and a BOM",
         "\xEF\xBB\xBF"
         "favorite,frequency_mhz,name\n1,92.1,Good\n,,\n",
         {{3, BookmarkSkipReason::badFrequency}},
         1},
        {"csv without a name column",
         "station_name,frequency_mhz\nX,92.1\n",
         {{2, BookmarkSkipReason::missingFields}},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BookmarkImport got = importBookmarks(c.text);
        EXPECT_EQ(got.skipped, c.skipped);
        ASSERT_EQ(got.stations.size(), c.taken);
        if (c.taken == 1) {
            EXPECT_EQ(got.stations[0].name, "Good");
        }
        EXPECT_EQ(got.rowCount(), static_cast<int>(c.skipped.size() + c.taken));
    }
}

TEST(BookmarkExchangeTest, EmptyAndForeignTextGiveNoFormatAndNoRows) {
    for (const std::string& text :
         {std::string(), std::string("\n \r\n\t"), std::string("hello world\nmore\n"),
          std::string("\x00\x01\xff", 3)}) {
        const BookmarkImport got = importBookmarks(text);
        EXPECT_FALSE(got.format);
        EXPECT_EQ(got.rowCount(), 0);
    }
    // Headers alone are a valid, empty list.
    EXPECT_EQ(importBookmarks(exportGqrx({})).format, BookmarkFormat::gqrx);
    EXPECT_EQ(importBookmarks(exportGqrx({})).rowCount(), 0);
    EXPECT_EQ(importBookmarks(exportCSV({})).rowCount(), 0);
}
