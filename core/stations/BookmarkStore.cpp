#include "stations/BookmarkStore.h"

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/DebugLog.h"
#include "platform/UserPaths.h"

BookmarkStore::BookmarkStore(std::filesystem::path documentsDir)
    : path(std::move(documentsDir) / kFileName) {}

std::string BookmarkStore::encode(const std::vector<RadioStation>& stations) {
    nlohmann::json list = nlohmann::json::array();
    for (const RadioStation& s : stations)
        list.push_back({{"id", s.id.text()},
                        {"name", s.name},
                        {"frequencyMHz", s.frequencyMHz},
                        {"isFavorite", s.isFavorite}});
    return list.dump();
}

std::optional<std::vector<RadioStation>> BookmarkStore::decode(const std::string& text) {
    const nlohmann::json list = nlohmann::json::parse(text, nullptr, false);
    if (!list.is_array()) return std::nullopt;
    std::vector<RadioStation> out;
    for (const nlohmann::json& item : list) {
        if (!item.is_object()) return std::nullopt;
        const auto id = item.find("id"), name = item.find("name"),
                   frequency = item.find("frequencyMHz"), favorite = item.find("isFavorite");
        if (id == item.end() || name == item.end() || frequency == item.end() ||
            favorite == item.end() || !id->is_string() || !name->is_string() ||
            !frequency->is_number() || !favorite->is_boolean())
            return std::nullopt;
        const std::optional<UUID> uuid = UUID::parse(id->get<std::string>());
        if (!uuid) return std::nullopt;
        out.push_back({.id = *uuid,
                       .name = name->get<std::string>(),
                       .frequencyMHz = frequency->get<double>(),
                       .isFavorite = favorite->get<bool>()});
    }
    return out;
}

std::vector<RadioStation> BookmarkStore::load() {
    preserveBeforeSave = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::stringstream text;
    text << in.rdbuf();
    if (std::optional<std::vector<RadioStation>> stations = decode(text.str())) return *stations;
    preserveBeforeSave = true;
    DebugLog::writef("bookmark file %s does not decode; it will be kept aside", path.c_str());
    return {};
}

std::optional<std::string> BookmarkStore::save(const std::vector<RadioStation>& stations) {
    if (preserveBeforeSave) {
        // Never overwrite a list we could not read: the user's stations may still be in it.
        const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        std::filesystem::path aside = path;
        aside += ".unreadable-" + std::to_string(stamp);
        std::error_code ec;
        std::filesystem::rename(path, aside, ec);
        if (ec && std::filesystem::exists(path))
            return "cannot keep the unreadable bookmark file aside: " + ec.message();
        preserveBeforeSave = false;
    }
    std::string error;
    if (!writeFileAtomically(path, encode(stations), &error)) return error;
    return std::nullopt;
}
