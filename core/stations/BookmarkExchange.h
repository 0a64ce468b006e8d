#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stations/StationRecords.h"

// The bookmark files other receivers read and write:
//  - gqrx's bookmarks.csv: a tag block ("# Tag name ; color", then "name ; #rrggbb" rows), an
//    empty line, then "# Frequency ; Name ; Modulation ; Bandwidth; Tags" and one row per
//    bookmark, frequency and bandwidth in Hz, fields split on ';' and padded with spaces.
//    Favourites carry the tag "Favorites".
//  - plain CSV: "name,frequency_mhz,favorite", RFC 4180 quoting, CRLF line ends.
enum class BookmarkFormat { gqrx, csv };

enum class BookmarkSkipReason {
    missingFields,  // fewer columns than the header or the format needs
    badFrequency,   // not a number, not positive, or beyond any receiver
    emptyName,
    badFavorite,  // a favourite column that is neither yes nor no
    badQuoting,   // a quoted CSV field still open at the end of the file
};

struct BookmarkSkippedRow {
    int lineNumber = 0;  // 1-based, where the row starts in the file
    BookmarkSkipReason reason = BookmarkSkipReason::missingFields;
    bool operator==(const BookmarkSkippedRow&) const = default;
};

// What one file held. Tag rows, headers, comments and blank lines are not rows.
struct BookmarkImport {
    std::optional<BookmarkFormat> format;  // absent: neither format (nothing was read)
    std::vector<RadioStation> stations;    // each with a fresh id
    std::vector<BookmarkSkippedRow> skipped;
    int rowCount() const { return static_cast<int>(stations.size() + skipped.size()); }
};

// The outcome of importing or exporting a file, for the window and the command line.
struct BookmarkTransferReport {
    bool isSuccess = false;
    int imported = 0;    // stations added (import) or written (export)
    int rows = 0;        // bookmark rows in the file
    int duplicates = 0;  // rows naming a station already in the list
    int unreadable = 0;
    std::string text;  // "Imported N of M stations (K duplicates, J unreadable)" or the failure
};

// gqrx has one modulation and filter per bookmark; we keep none, so the band decides.
struct GqrxChannel {
    std::string_view modulation;
    int bandwidthHz = 0;
};
GqrxChannel gqrxChannelFor(double frequencyMHz);

std::string exportGqrx(const std::vector<RadioStation>& stations);
std::string exportCSV(const std::vector<RadioStation>& stations);
std::string exportBookmarks(const std::vector<RadioStation>& stations, BookmarkFormat format);
// Detects the format from the text; a bad row is skipped and counted, never fatal.
BookmarkImport importBookmarks(std::string_view text);

const char* bookmarkSkipReasonText(BookmarkSkipReason reason);
std::optional<BookmarkFormat> parseBookmarkFormat(std::string_view name);
