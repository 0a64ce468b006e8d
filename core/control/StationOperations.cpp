// Saved stations, favourites and scan-result naming (main thread).
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "control/SDRController.h"
#include "platform/TextUtils.h"
#include "platform/DebugLog.h"
#include "platform/UserPaths.h"

namespace {

// Two frequencies are the same station when they differ by less than 1 kHz.
bool sameFrequency(double a, double b) {
    return std::abs(a - b) < 0.001;
}


std::string frequencyName(double mhz) {
    return formatString("%.4f MHz", mhz);
}

// Bookmark files are a few kilobytes; a bigger one was chosen by mistake.
constexpr std::uintmax_t kMaxBookmarkFileBytes = 16u << 20;

std::optional<std::string> readBookmarkFile(const std::filesystem::path& path, std::string& text) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return "no such file";
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return ec.message();
    if (size > kMaxBookmarkFileBytes) return "too large for a bookmark file";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot be opened";
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return "read failed";
    text = buffer.str();
    return std::nullopt;
}

BookmarkTransferReport failedTransfer(const std::string& what, const std::filesystem::path& path,
                                      const std::string& reason) {
    return {.isSuccess = false, .text = what + " " + path.string() + ": " + reason};
}

}  // namespace

std::vector<RadioStation>::iterator SDRController::stationMatching(double mhz) {
    return std::find_if(stations.begin(), stations.end(),
                        [mhz](const RadioStation& s) { return sameFrequency(s.frequencyMHz, mhz); });
}

std::optional<std::string> SDRController::saveStations() {
    // The list keeps the change either way; a failed write is shown, not swallowed.
    std::optional<std::string> error = bookmarkStore.save(stations);
    if (error) statusText = "Greška: " + *error;
    return error;
}

BookmarkTransferReport SDRController::importStations(const std::filesystem::path& path) {
    std::string text;
    BookmarkTransferReport report;
    if (const std::optional<std::string> error = readBookmarkFile(path, text)) {
        report = failedTransfer("Cannot import", path, *error);
    } else if (BookmarkImport file = importBookmarks(text); !file.format && !trimmedText(text).empty()) {
        report = failedTransfer("Cannot import", path, "neither a gqrx nor a CSV bookmark file");
    } else {
        report.rows = file.rowCount();
        report.unreadable = static_cast<int>(file.skipped.size());
        for (RadioStation& s : file.stations) {
            const bool known = std::any_of(stations.begin(), stations.end(), [&](const RadioStation& old) {
                return old.name == s.name && sameFrequency(old.frequencyMHz, s.frequencyMHz);
            });
            if (known) {
                ++report.duplicates;
                continue;
            }
            stations.push_back(std::move(s));
            ++report.imported;
        }
        for (const BookmarkSkippedRow& row : file.skipped)
            DebugLog::writef("import %s: line %d skipped (%s)", path.c_str(), row.lineNumber,
                             bookmarkSkipReasonText(row.reason));
        report.text = formatString("Imported %d of %d stations (%d duplicates, %d unreadable)", report.imported,
                                   report.rows, report.duplicates, report.unreadable);
        report.isSuccess = true;
        if (report.imported > 0) {
            if (const std::optional<std::string> error = saveStations()) {
                report.isSuccess = false;
                report.text += "; not saved: " + *error;
            }
        }
    }
    stationsTransferReport = report.text;
    return report;
}

BookmarkTransferReport SDRController::exportStations(const std::filesystem::path& path, BookmarkFormat format) {
    BookmarkTransferReport report;
    std::string error;
    if (path.empty()) {
        report = failedTransfer("Cannot export", path, "no file named");
    } else if (!writeFileAtomically(path, exportBookmarks(stations, format), &error)) {
        report = failedTransfer("Cannot export", path, error);
    } else {
        report = {.isSuccess = true,
                  .imported = static_cast<int>(stations.size()),
                  .rows = static_cast<int>(stations.size()),
                  .text = formatString("Exported %zu stations to %s", stations.size(), path.c_str())};
    }
    stationsTransferReport = report.text;
    return report;
}

void SDRController::addCustomBookmark(const std::string& name) {
    std::string label = trimmedText(name);
    if (label.empty()) label = frequencyName(frequencyMHz);
    stations.push_back({.id = UUID::random(), .name = label, .frequencyMHz = frequencyMHz, .isFavorite = false});
    saveStations();
}

void SDRController::removeCustomBookmark(const RadioStation& station) {
    std::erase_if(stations, [&](const RadioStation& s) { return s.id == station.id; });
    saveStations();
}

void SDRController::toggleFavorite(const RadioStation& station) {
    const auto it = std::find_if(stations.begin(), stations.end(),
                                 [&](const RadioStation& s) { return s.id == station.id; });
    if (it == stations.end()) return;
    it->isFavorite = !it->isFavorite;
    saveStations();
}

void SDRController::toggleFavoriteCurrent() {
    if (const auto it = stationMatching(frequencyMHz); it != stations.end()) {
        it->isFavorite = !it->isFavorite;
    } else {
        const std::string name = rdsStationName ? *rdsStationName : frequencyName(frequencyMHz);
        stations.push_back({.id = UUID::random(), .name = name, .frequencyMHz = frequencyMHz, .isFavorite = true});
    }
    saveStations();
}

bool SDRController::isCurrentFrequencyFavorite() const {
    const auto it = std::find_if(stations.begin(), stations.end(), [this](const RadioStation& s) {
        return sameFrequency(s.frequencyMHz, frequencyMHz);
    });
    return it != stations.end() && it->isFavorite;
}

bool SDRController::isFoundStationFavorite(const FoundStation& found) const {
    const auto it = std::find_if(stations.begin(), stations.end(), [&](const RadioStation& s) {
        return sameFrequency(s.frequencyMHz, found.frequencyMHz);
    });
    return it != stations.end() && it->isFavorite;
}

void SDRController::toggleFavorite(const FoundStation& forFound) {
    if (const auto it = stationMatching(forFound.frequencyMHz); it != stations.end()) {
        it->isFavorite = !it->isFavorite;
    } else {
        stations.push_back({.id = UUID::random(), .name = forFound.label,
                            .frequencyMHz = forFound.frequencyMHz, .isFavorite = true});
    }
    saveStations();
}

void SDRController::saveAllFoundStations(const std::vector<FoundStation>& found) {
    for (const FoundStation& f : found) {
        if (stationMatching(f.frequencyMHz) != stations.end()) continue;
        stations.push_back({.id = UUID::random(), .name = f.label, .frequencyMHz = f.frequencyMHz, .isFavorite = false});
    }
    saveStations();
}

void SDRController::updateFoundStationLabelIfMatching(const std::string& name) {
    const auto it = std::find_if(foundStations.begin(), foundStations.end(), [this](const FoundStation& f) {
        return sameFrequency(f.frequencyMHz, frequencyMHz);
    });
    if (it == foundStations.end()) return;
    const std::string label = trimmedText(name);
    if (label.empty() || it->label == label) return;
    it->label = label;
}
