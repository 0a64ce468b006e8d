#include "stations/BookmarkExchange.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr std::string_view kFavoritesTag = "Favorites";
constexpr std::string_view kUntaggedTag = "Untagged";
constexpr std::string_view kCSVHeader = "name,frequency_mhz,favorite";
// Nothing a receiver tunes lies above this; larger numbers are typos or another column.
constexpr double kMaxFrequencyMHz = 300'000.0;
// gqrx's bookmark columns: frequency, name, modulation, bandwidth, tags.
constexpr std::size_t kGqrxColumns = 5;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        out.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return out;
        start = end + 1;
    }
}

// Locale-independent: a German locale must not turn "92.1" into 92.
std::optional<double> parseNumber(std::string_view text) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> validFrequencyMHz(std::optional<double> mhz) {
    if (!mhz || !(*mhz > 0.0) || *mhz > kMaxFrequencyMHz) return std::nullopt;
    return mhz;
}

double hzToMHz(double hz) {
    return hz / 1e6;
}
long long mhzToWholeHz(double mhz) {
    return std::llround(mhz * 1e6);
}

// Shortest text that reads back as the same double.
std::string shortestNumber(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

// Display width in characters of UTF-8 text, so diacritics do not shift the columns.
std::size_t characterCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string padRight(std::string_view text, std::size_t width) {
    std::string out(text);
    const std::size_t count = characterCount(text);
    if (count < width) out.append(width - count, ' ');
    return out;
}

std::string padLeft(std::string_view text, std::size_t width) {
    const std::size_t count = characterCount(text);
    return std::string(count < width ? width - count : 0, ' ') + std::string(text);
}

// gqrx rows are single lines; a line break or tab inside a name would split or shift them.
std::string gqrxName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return std::string(trimmed(out));
}

bool isFavoriteTag(std::string_view tag) {
    const std::string t = lowered(trimmed(tag));
    return t == "favorites" || t == "favourites" || t == "favorite" || t == "favourite";
}

// ---- gqrx ----

struct GqrxReader {
    BookmarkImport& result;
    bool inTagBlock = false;
    std::size_t columns = kGqrxColumns;

    void header(std::string_view line) {
        const std::vector<std::string_view> names = split(line.substr(1), ';');
        const std::string first = lowered(trimmed(names.front()));
        if (first.starts_with("tag name")) {
            inTagBlock = true;
        } else if (first == "frequency") {
            inTagBlock = false;
            // Older files have no Tags column.
            columns = std::max<std::size_t>(4, std::min(names.size(), kGqrxColumns));
        }
    }

    void row(std::string_view line, int lineNumber) {
        const std::vector<std::string_view> fields = split(line, ';');
        const bool looksLikeTag = fields.size() == 2 && trimmed(fields[1]).starts_with('#');
        if (inTagBlock || looksLikeTag) return;
        const auto skip = [&](BookmarkSkipReason reason) {
            result.skipped.push_back({.lineNumber = lineNumber, .reason = reason});
        };
        if (fields.size() < 4) return skip(BookmarkSkipReason::missingFields);
        // gqrx does not escape ';', so surplus fields belong to the name (ours are written
        // that way, and the columns after the name never hold one).
        const std::size_t after = fields.size() >= columns ? columns - 2 : 2;
        const std::optional<double> hz = parseNumber(trimmed(fields[0]));
        const std::optional<double> mhz =
            validFrequencyMHz(hz ? std::optional(hzToMHz(*hz)) : std::nullopt);
        if (!mhz) return skip(BookmarkSkipReason::badFrequency);
        const std::size_t nameEnd = fields.size() - after;
        const std::string_view joined(
            fields[1].data(),
            fields[nameEnd - 1].data() + fields[nameEnd - 1].size() - fields[1].data());
        const std::string name(trimmed(joined));
        if (name.empty()) return skip(BookmarkSkipReason::emptyName);
        bool favorite = false;
        if (after == 3)
            for (std::string_view tag : split(fields.back(), ','))
                favorite = favorite || isFavoriteTag(tag);
        result.stations.push_back(
            {.id = UUID::random(), .name = name, .frequencyMHz = *mhz, .isFavorite = favorite});
    }
};

void readGqrx(std::string_view text, BookmarkImport& result) {
    GqrxReader reader{result};
    int lineNumber = 0;
    for (std::string_view line : split(text, '\n')) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view t = trimmed(line);
        if (t.empty()) {
            reader.inTagBlock = false;
        } else if (t.front() == '#') {
            reader.header(t);
        } else {
            reader.row(line, lineNumber);
        }
    }
}

// ---- CSV ----

struct CSVRecord {
    int lineNumber = 0;
    std::vector<std::string> fields;
    bool isClosed = true;  // false: a quote was still open at the end of the file
};

// RFC 4180, leniently: LF or CRLF, blanks around unquoted fields dropped.
std::vector<CSVRecord> parseCSV(std::string_view text) {
    std::vector<CSVRecord> records;
    CSVRecord record;
    std::string field;
    bool inQuotes = false, wasQuoted = false, recordStarted = false;
    int line = 1;
    const auto endField = [&] {
        record.fields.push_back(wasQuoted ? field : std::string(trimmed(field)));
        field.clear();
        wasQuoted = false;
    };
    const auto endRecord = [&] {
        endField();
        const bool blank = record.fields.size() == 1 && record.fields[0].empty();
        if (!blank) records.push_back(std::move(record));
        record = CSVRecord{};
        recordStarted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!recordStarted) {
            record.lineNumber = line;
            recordStarted = true;
        }
        if (c == '\n') ++line;
        if (inQuotes) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                inQuotes = false;
            }
        } else if (c == '"' && trimmed(field).empty()) {
            field.clear();
            inQuotes = wasQuoted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i, ++line;
            endRecord();
        } else {
            field += c;
        }
    }
    if (recordStarted) {
        record.isClosed = !inQuotes;
        endRecord();
    }
    return records;
}

std::optional<bool> parseFlag(std::string_view text) {
    const std::string t = lowered(trimmed(text));
    if (t.empty() || t == "false" || t == "no" || t == "0") return false;
    if (t == "true" || t == "yes" || t == "1") return true;
    return std::nullopt;
}

void readCSV(std::string_view text, BookmarkImport& result) {
    const std::vector<CSVRecord> records = parseCSV(text);
    if (records.empty()) return;
    std::optional<std::size_t> nameColumn, frequencyColumn, favoriteColumn;
    const std::vector<std::string>& header = records.front().fields;
    for (std::size_t k = 0; k < header.size(); ++k) {
        const std::string h = lowered(trimmed(header[k]));
        if (h == "name") nameColumn = k;
        if (h == "frequency_mhz") frequencyColumn = k;
        if (h == "favorite" || h == "favourite") favoriteColumn = k;
    }
    // Without both columns no row can be read; each is counted rather than the file refused.
    const std::size_t needed = nameColumn && frequencyColumn
                                   ? std::max(*nameColumn, *frequencyColumn) + 1
                                   : std::numeric_limits<std::size_t>::max();
    for (std::size_t r = 1; r < records.size(); ++r) {
        const CSVRecord& record = records[r];
        const auto skip = [&](BookmarkSkipReason reason) {
            result.skipped.push_back({.lineNumber = record.lineNumber, .reason = reason});
        };
        if (!record.isClosed) {
            skip(BookmarkSkipReason::badQuoting);
            continue;
        }
        if (record.fields.size() < needed) {
            skip(BookmarkSkipReason::missingFields);
            continue;
        }
        const std::optional<double> mhz =
            validFrequencyMHz(parseNumber(record.fields[*frequencyColumn]));
        if (!mhz) {
            skip(BookmarkSkipReason::badFrequency);
            continue;
        }
        const std::string name = std::string(trimmed(record.fields[*nameColumn]));
        if (name.empty()) {
            skip(BookmarkSkipReason::emptyName);
            continue;
        }
        const std::optional<bool> favorite =
            favoriteColumn && *favoriteColumn < record.fields.size()
                ? parseFlag(record.fields[*favoriteColumn])
                : std::optional(false);
        if (!favorite) {
            skip(BookmarkSkipReason::badFavorite);
            continue;
        }
        result.stations.push_back(
            {.id = UUID::random(), .name = name, .frequencyMHz = *mhz, .isFavorite = *favorite});
    }
}

bool isCSVHeader(std::string_view line) {
    const std::string h = lowered(line);
    return h.find("name") != std::string::npos && h.find("frequency_mhz") != std::string::npos;
}

std::string csvField(const std::string& text) {
    const bool needsQuotes = text.find_first_of(",\"\r\n") != std::string::npos ||
                             (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!needsQuotes) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

}  // namespace

GqrxChannel gqrxChannelFor(double frequencyMHz) {
    if (frequencyMHz >= 87.5 && frequencyMHz <= 108.0)
        return {.modulation = "WFM (stereo)", .bandwidthHz = 160'000};
    // Short wave and below, and the aviation band, are AM.
    if (frequencyMHz < 30.0 || (frequencyMHz > 108.0 && frequencyMHz <= 137.0))
        return {.modulation = "AM", .bandwidthHz = 10'000};
    return {.modulation = "Narrow FM", .bandwidthHz = 12'500};
}

std::string exportGqrx(const std::vector<RadioStation>& stations) {
    std::string out = "# Tag name          ;  color\n";
    out += padRight(kFavoritesTag, 20) + "; #ffc000\n";
    out += padRight(kUntaggedTag, 20) + "; #c0c0c0\n";
    out += "\n# Frequency ;  Name                     ; Modulation          ;  Bandwidth; Tags\n";
    for (const RadioStation& s : stations) {
        const GqrxChannel channel = gqrxChannelFor(s.frequencyMHz);
        out += padLeft(std::to_string(mhzToWholeHz(s.frequencyMHz)), 12) + "; ";
        out += padRight(gqrxName(s.name), 25) + "; ";
        out += padRight(channel.modulation, 20) + "; ";
        out += padLeft(std::to_string(channel.bandwidthHz), 10) + "; ";
        out += std::string(s.isFavorite ? kFavoritesTag : kUntaggedTag) + "\n";
    }
    return out;
}

std::string exportCSV(const std::vector<RadioStation>& stations) {
    std::string out = std::string(kCSVHeader) + "\r\n";
    for (const RadioStation& s : stations)
        out += csvField(s.name) + "," + shortestNumber(s.frequencyMHz) + "," +
               (s.isFavorite ? "true" : "false") + "\r\n";
    return out;
}

std::string exportBookmarks(const std::vector<RadioStation>& stations, BookmarkFormat format) {
    return format == BookmarkFormat::gqrx ? exportGqrx(stations) : exportCSV(stations);
}

BookmarkImport importBookmarks(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // spreadsheets write a BOM
    BookmarkImport result;
    std::string_view firstLine;
    for (std::string_view line : split(text, '\n'))
        if (!trimmed(line).empty()) {
            firstLine = trimmed(line);
            break;
        }
    if (firstLine.empty()) return result;
    if (isCSVHeader(firstLine) && !firstLine.starts_with('#')) {
        result.format = BookmarkFormat::csv;
        readCSV(text, result);
    } else if (firstLine.starts_with('#') || firstLine.find(';') != std::string_view::npos) {
        result.format = BookmarkFormat::gqrx;
        readGqrx(text, result);
    }
    return result;
}

const char* bookmarkSkipReasonText(BookmarkSkipReason reason) {
    switch (reason) {
        case BookmarkSkipReason::missingFields:
            return "missing fields";
        case BookmarkSkipReason::badFrequency:
            return "bad frequency";
        case BookmarkSkipReason::emptyName:
            return "empty name";
        case BookmarkSkipReason::badFavorite:
            return "bad favourite value";
        case BookmarkSkipReason::badQuoting:
            return "unclosed quote";
    }
    return "unreadable";
}

std::optional<BookmarkFormat> parseBookmarkFormat(std::string_view name) {
    const std::string n = lowered(trimmed(name));
    if (n == "gqrx") return BookmarkFormat::gqrx;
    if (n == "csv") return BookmarkFormat::csv;
    return std::nullopt;
}
