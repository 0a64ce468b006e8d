#include "platform/SettingsStore.h"

#include <cmath>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/DebugLog.h"
#include "platform/UserPaths.h"

namespace {

using nlohmann::json;

constexpr int kFormatVersion = 1;

// A key holding the wrong kind of value: the file was edited by hand or damaged.
struct SettingsTypeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads `key` when present; a value of the wrong kind throws, a missing key keeps the default.
void read(const json& j, const char* key, bool& field) {
    if (!j.contains(key)) return;
    if (!j[key].is_boolean()) throw SettingsTypeError(std::string(key) + " is not true or false");
    field = j[key].get<bool>();
}

void read(const json& j, const char* key, double& field) {
    if (!j.contains(key)) return;
    if (!j[key].is_number()) throw SettingsTypeError(std::string(key) + " is not a number");
    field = j[key].get<double>();
}

void read(const json& j, const char* key, std::string& field) {
    if (!j.contains(key)) return;
    if (!j[key].is_string()) throw SettingsTypeError(std::string(key) + " is not text");
    field = j[key].get<std::string>();
}

// Whole numbers outside [lowest, highest] keep the default: a wrong value, not a damaged file.
void read(const json& j, const char* key, std::int64_t lowest, std::int64_t highest, auto& field) {
    if (!j.contains(key)) return;
    if (!j[key].is_number_integer()) throw SettingsTypeError(std::string(key) + " is not a whole number");
    const std::int64_t value = j[key].get<std::int64_t>();
    if (value >= lowest && value <= highest) field = static_cast<std::remove_reference_t<decltype(field)>>(value);
}

const json& group(const json& j, const char* key) {
    static const json kEmpty = json::object();
    if (!j.contains(key)) return kEmpty;
    if (!j[key].is_object()) throw SettingsTypeError(std::string(key) + " is not a group of settings");
    return j[key];
}

// A number outside [lowest, highest] goes back to its default.
void keepWithin(double& value, double lowest, double highest, double fallback) {
    if (!(value >= lowest && value <= highest)) value = fallback;
}

json endpointJSON(const FeedEndpointSettings& e) {
    return {{"enabled", e.enabled}, {"port", e.port}};
}

void readEndpoint(const json& feeds, const char* key, FeedEndpointSettings& e) {
    const json& g = group(feeds, key);
    read(g, "enabled", e.enabled);
    read(g, "port", 0, 65535, e.port);
}

std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// Moves the damaged file to a free "<name>.damaged-<time>[-n]" beside it.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file) {
    const std::string base = file.string() + ".damaged-" + utcStamp();
    std::error_code ec;
    for (int n = 0; n < 100; ++n) {
        const std::filesystem::path target = n == 0 ? base : base + "-" + std::to_string(n);
        if (std::filesystem::exists(target, ec)) continue;
        std::filesystem::rename(file, target, ec);
        if (!ec) return target;
        DebugLog::writef("settings: cannot move %s aside: %s", file.c_str(), ec.message().c_str());
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path f) : file(std::move(f)) {}

std::filesystem::path SettingsStore::defaultPath() {
    return UserPaths::configDir() / "vantirel" / "settings.json";
}

json SettingsStore::toJSON(const ReceiverSettings& s) {
    json radio = {{"frequencyMHz", s.frequencyMHz},
                  {"mode", std::string(rawValue(s.mode))},
                  {"narrowbandFM", s.narrowbandFM},
                  {"stereoEnabled", s.stereoEnabled},
                  {"agcEnabled", s.agcEnabled},
                  {"manualGainTenthsDB", s.manualGainTenthsDB},
                  {"frequencyCorrectionPPM", s.frequencyCorrectionPPM},
                  {"audioVolume", s.audioVolume},
                  {"audioBalance", s.audioBalance},
                  {"squelchEnabled", s.squelchEnabled},
                  {"squelchThresholdDB", s.squelchThresholdDB},
                  {"nbEnabled", s.nbEnabled},
                  {"nbThreshold", s.nbThreshold},
                  {"nrEnabled", s.nrEnabled},
                  {"nrAmount", s.nrAmount},
                  {"notchEnabled", s.notchEnabled},
                  {"notchFrequencyHz", s.notchFrequencyHz},
                  {"rdsEnabled", s.rdsEnabled}};
    json window = {{"spectrumSpanMHz", s.spectrumSpanMHz}, {"sidebarSection", s.sidebarSection}};
    if (s.mapView)
        window["mapView"] = {{"centerLatitudeDeg", s.mapView->centerLatitudeDeg},
                             {"centerLongitudeDeg", s.mapView->centerLongitudeDeg},
                             {"zoom", s.mapView->zoom}};
    json dongle = json::object();
    if (s.dongle.index) dongle["index"] = *s.dongle.index;
    if (s.dongle.serial) dongle["serial"] = *s.dongle.serial;
    const json hardware = {{"dongle", dongle},
                           {"networkDongleAddress", s.networkDongleAddress},
                           {"audioOutputDevice", s.audioOutputDevice},
                           {"mapTileURL", s.mapTileURL}};
    const FeedSettings& f = s.feeds;
    const json feeds = {{"adsbSBS", endpointJSON(f.adsbSBS)},
                        {"adsbBeast", endpointJSON(f.adsbBeast)},
                        {"adsbJSON", {{"enabled", f.adsbJSONEnabled}, {"dir", f.adsbJSONDir}}},
                        {"aprsKISS", endpointJSON(f.aprsKISS)},
                        {"rigctl", endpointJSON(f.rigctl)},
                        {"mqtt",
                         {{"enabled", f.mqttEnabled},
                          {"host", f.mqttHost},
                          {"port", f.mqttPort},
                          {"receiverName", f.mqttReceiverName}}}};
    return {{"version", kFormatVersion}, {"radio", radio}, {"window", window}, {"hardware", hardware}, {"feeds", feeds}};
}

ReceiverSettings SettingsStore::fromJSON(const json& j) {
    if (!j.is_object()) throw SettingsTypeError("the file does not hold a group of settings");
    const ReceiverSettings defaults;
    ReceiverSettings s;
    const json& radio = group(j, "radio");
    read(radio, "frequencyMHz", s.frequencyMHz);
    keepWithin(s.frequencyMHz, 0.001, 6000.0, defaults.frequencyMHz);
    std::string mode(rawValue(s.mode));
    read(radio, "mode", mode);
    s.mode = demodModeFromRawValue(mode).value_or(defaults.mode);  // a newer version's mode
    read(radio, "narrowbandFM", s.narrowbandFM);
    read(radio, "stereoEnabled", s.stereoEnabled);
    read(radio, "agcEnabled", s.agcEnabled);
    read(radio, "manualGainTenthsDB", s.manualGainTenthsDB);
    keepWithin(s.manualGainTenthsDB, 0.0, 600.0, defaults.manualGainTenthsDB);
    // librtlsdr takes any int, but beyond a few hundred ppm it is a typing slip.
    read(radio, "frequencyCorrectionPPM", -1000, 1000, s.frequencyCorrectionPPM);
    read(radio, "audioVolume", s.audioVolume);
    keepWithin(s.audioVolume, 0.0, 1.0, defaults.audioVolume);
    read(radio, "audioBalance", s.audioBalance);
    keepWithin(s.audioBalance, -1.0, 1.0, defaults.audioBalance);
    read(radio, "squelchEnabled", s.squelchEnabled);
    read(radio, "squelchThresholdDB", s.squelchThresholdDB);
    keepWithin(s.squelchThresholdDB, -150.0, 0.0, defaults.squelchThresholdDB);
    read(radio, "nbEnabled", s.nbEnabled);
    read(radio, "nbThreshold", s.nbThreshold);
    keepWithin(s.nbThreshold, 0.0, 100.0, defaults.nbThreshold);
    read(radio, "nrEnabled", s.nrEnabled);
    read(radio, "nrAmount", s.nrAmount);
    keepWithin(s.nrAmount, 0.0, 1.0, defaults.nrAmount);
    read(radio, "notchEnabled", s.notchEnabled);
    read(radio, "notchFrequencyHz", s.notchFrequencyHz);
    keepWithin(s.notchFrequencyHz, 1.0, 25'600.0, defaults.notchFrequencyHz);  // below audio Nyquist
    read(radio, "rdsEnabled", s.rdsEnabled);

    const json& window = group(j, "window");
    read(window, "spectrumSpanMHz", s.spectrumSpanMHz);
    keepWithin(s.spectrumSpanMHz, 0.001, 2.048, defaults.spectrumSpanMHz);
    read(window, "sidebarSection", s.sidebarSection);
    if (window.contains("mapView") && !window["mapView"].is_null()) {
        const json& view = group(window, "mapView");
        MapViewSettings m;
        read(view, "centerLatitudeDeg", m.centerLatitudeDeg);
        read(view, "centerLongitudeDeg", m.centerLongitudeDeg);
        read(view, "zoom", m.zoom);
        // Web Mercator stops at ±85.05°; beyond that, or a silly zoom, the map follows the aircraft.
        if (std::abs(m.centerLatitudeDeg) <= 85.06 && std::abs(m.centerLongitudeDeg) <= 180.0 && m.zoom >= 0.0 &&
            m.zoom <= 22.0)
            s.mapView = m;
    }

    const json& hardware = group(j, "hardware");
    const json& dongle = group(hardware, "dongle");
    if (dongle.contains("index")) {
        std::int64_t index = -1;
        read(dongle, "index", 0, 255, index);
        if (index >= 0) s.dongle.index = static_cast<std::uint32_t>(index);
    }
    if (dongle.contains("serial")) {
        std::string serial;
        read(dongle, "serial", serial);
        s.dongle.serial = serial;
    }
    read(hardware, "networkDongleAddress", s.networkDongleAddress);
    read(hardware, "audioOutputDevice", s.audioOutputDevice);
    read(hardware, "mapTileURL", s.mapTileURL);

    const json& feeds = group(j, "feeds");
    FeedSettings& f = s.feeds;
    readEndpoint(feeds, "adsbSBS", f.adsbSBS);
    readEndpoint(feeds, "adsbBeast", f.adsbBeast);
    const json& adsbJSON = group(feeds, "adsbJSON");
    read(adsbJSON, "enabled", f.adsbJSONEnabled);
    read(adsbJSON, "dir", f.adsbJSONDir);
    readEndpoint(feeds, "aprsKISS", f.aprsKISS);
    readEndpoint(feeds, "rigctl", f.rigctl);
    const json& mqtt = group(feeds, "mqtt");
    read(mqtt, "enabled", f.mqttEnabled);
    read(mqtt, "host", f.mqttHost);
    read(mqtt, "port", 1, 65535, f.mqttPort);
    read(mqtt, "receiverName", f.mqttReceiverName);
    return s;
}

SettingsLoadResult SettingsStore::load() {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return {};
    std::string problem;
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) problem = "cannot read " + file.string();
        if (problem.empty()) {
            try {
                return {.settings = fromJSON(json::parse(text.str())), .status = SettingsLoadResult::Status::loaded};
            } catch (const std::exception& error) {
                problem = error.what();
            }
        }
    }
    SettingsLoadResult result{.status = SettingsLoadResult::Status::damaged, .problem = problem};
    result.damagedCopy = moveAside(file);
    protectDamagedFile = !result.damagedCopy;
    DebugLog::writef("settings: %s is damaged (%s), using defaults; kept as %s", file.c_str(), problem.c_str(),
                     result.damagedCopy ? result.damagedCopy->c_str() : "the original name");
    return result;
}

bool SettingsStore::save(const ReceiverSettings& settings, std::string* error) {
    if (protectDamagedFile) {
        if (error) *error = "the damaged " + file.string() + " could not be moved aside; not overwriting it";
        return false;
    }
    return writeFileAtomically(file, toJSON(settings).dump(2) + "\n", error, FileSync::synced);
}
