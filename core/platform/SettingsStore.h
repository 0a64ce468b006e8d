#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/ReceiverSettings.h"

// What loading the settings file gave, and whether the user must be told about it.
struct SettingsLoadResult {
    enum class Status { loaded, missing, damaged };
    ReceiverSettings settings{};
    Status status = Status::missing;
    std::string problem{};  // why a damaged file was rejected
    // Where the damaged file was kept; absent when it could not be moved (it stays in place and
    // the store will not overwrite it).
    std::optional<std::filesystem::path> damagedCopy{};
    bool operator==(const SettingsLoadResult&) const = default;
};

// The receiver's settings file, as JSON. Unknown keys are ignored and missing ones take their
// defaults, so files from older and newer versions load. A file that is not JSON or holds a
// wrong type is moved aside to "<name>.damaged-<UTC time>" and defaults are used. Saving goes
// through a synced temporary file in the same folder and a rename. One thread at a time.
class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path file);

    // $XDG_CONFIG_HOME/vantirel/settings.json, else ~/.config/vantirel/settings.json.
    static std::filesystem::path defaultPath();

    SettingsLoadResult load();
    // False with the reason in `error` when the file could not be written, or when a damaged
    // file that could not be moved aside still occupies the name.
    bool save(const ReceiverSettings& settings, std::string* error = nullptr);
    const std::filesystem::path& path() const { return file; }

    static nlohmann::json toJSON(const ReceiverSettings& settings);
    // Throws nlohmann::json::exception for a wrong type; out-of-range values take their defaults.
    static ReceiverSettings fromJSON(const nlohmann::json& j);

private:
    std::filesystem::path file;
    bool protectDamagedFile = false;
};
