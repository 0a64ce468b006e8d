#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "stations/StationRecords.h"

// The saved-station file "OrvelleBookmarks.json": a JSON array of {"id", "name",
// "frequencyMHz", "isFavorite"} objects, the id as upper-case UUID text. Main thread only.
class BookmarkStore {
public:
    static constexpr const char* kFileName = "OrvelleBookmarks.json";

    explicit BookmarkStore(std::filesystem::path documentsDir);

    const std::filesystem::path& fileURL() const { return path; }
    // Missing, unreadable or undecodable files give an empty list. A file that exists but does
    // not decode is remembered, so the first save keeps it aside instead of overwriting it.
    std::vector<RadioStation> load();
    // Atomic write; returns the reason on failure.
    std::optional<std::string> save(const std::vector<RadioStation>& stations);

    static std::string encode(const std::vector<RadioStation>& stations);
    // Absent when the text is not a list of complete records.
    static std::optional<std::vector<RadioStation>> decode(const std::string& text);

private:
    std::filesystem::path path;
    bool preserveBeforeSave = false;
};
