// Saved stations, favourites and scan-result naming (main thread).
#include <algorithm>
#include <cmath>

#include "control/SDRController.h"
#include "platform/TextUtils.h"
#include "platform/DebugLog.h"

namespace {

// Two frequencies are the same station when they differ by less than 1 kHz.
bool sameFrequency(double a, double b) {
    return std::abs(a - b) < 0.001;
}


std::string frequencyName(double mhz) {
    return formatString("%.4f MHz", mhz);
}

}  // namespace

std::vector<RadioStation>::iterator SDRController::stationMatching(double mhz) {
    return std::find_if(stations.begin(), stations.end(),
                        [mhz](const RadioStation& s) { return sameFrequency(s.frequencyMHz, mhz); });
}

void SDRController::saveStations() {
    // The list keeps the change either way; a failed write is shown, not swallowed.
    if (const std::optional<std::string> error = bookmarkStore.save(stations))
        statusText = "Greška: " + *error;
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
